// The captured output of RunProcess, the same on every system: what each system's
// process file keeps of the bytes its child writes.
#pragma once

#include <algorithm>
#include <cstddef>
#include <string>

#include "common/platform/process.h"

namespace platform::process_output {

// Appends to the captured output; past the limit keeps the first or the last bytes.
inline void Keep(std::string* output, const char* data, size_t size, const ProcessOptions& options) {
  if (!options.keep_last_output) {
    size_t room = options.output_limit > output->size() ? options.output_limit - output->size() : 0;
    output->append(data, std::min(room, size));
    return;
  }
  output->append(data, size);
  // Cut the front only now and then, so that a long output costs linear time.
  if (output->size() > 2 * options.output_limit + 65536)
    output->erase(0, output->size() - options.output_limit);
}

}  // namespace platform::process_output
