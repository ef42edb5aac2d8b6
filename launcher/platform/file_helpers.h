// Small file services of the file checker and the console-tool command line. Paths are UTF-8 and
// written the Windows way; the POSIX build reads a backslash as a folder separator.
#pragma once

#include <cstdint>
#include <string>

namespace orv {

// The short (8.3) form of an existing path, so that it can stand unquoted in a command line when
// the volume keeps short names. Empty when the path does not exist or its short form would not fit
// in MAX_PATH. Without short names (POSIX), the path itself when it exists.
std::string GetShortPath(const std::string& path);

// Creates the file, or truncates an existing one, so that it has 0 bytes. Raises EOSError (missing
// folder, read-only file, refused access).
void CreateEmptyFile(const std::string& path);

// The size of the file in bytes, or -1 when its attributes cannot be read (it does not exist, or
// access is refused). A folder reports 0.
int64_t FileSize64(const std::string& path);

}  // namespace orv
