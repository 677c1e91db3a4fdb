#include "common/platform/endless_source.h"

namespace platform {

EndlessSource::EndlessSource() : path_("/dev/zero") {}

EndlessSource::~EndlessSource() = default;

}  // namespace platform
