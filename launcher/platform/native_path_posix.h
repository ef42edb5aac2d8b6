// Paths on the POSIX side of the platform layer.
#pragma once

#include <string>

namespace orv {

// The core writes Windows paths; on POSIX every backslash is a folder separator.
std::string NativePath(const std::string& path);

}  // namespace orv
