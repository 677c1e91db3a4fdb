// The built-in default syntax definition that akqp-cli writes to "syntax/default.cfg" at
// every start (the editor that shares the settings folder reads it).
#pragma once

#include <string>

namespace settings {

// The 442 bytes of the default syntax text, CR LF line ends. This is the one place that
// yields them, whether they are stored plainly or packed.
const std::string& DefaultSyntaxText();

}  // namespace settings
