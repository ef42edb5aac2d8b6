// The form of a path that Windows' file functions take at any length. A plain path is limited to
// MAX_PATH (260 UTF-16 units with its terminating NUL), and CreateDirectoryW to 248 (room for an
// 8.3 name is kept); past that, only the extended-length form "\\?\C:\..." or "\\?\UNC\server\..."
// reaches the file. ("Maximum Path Length Limitation", Naming Files, Paths, and Namespaces; the
// long-path opt-in of Windows 10 needs a registry switch the player may not have set.)
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace orv {

// From this many UTF-16 units on a path is given in its extended-length form.
inline constexpr size_t PlainPathLimit = 248;

// An absolute path ("C:\..." or "\\server\share\...") of PlainPathLimit units or more in its
// extended-length form; any other path as it stands (shorter ones, relative ones, and those already
// in a "\\?\" or "\\.\" form). The extended form is handed to the file system without the
// normalization a plain path gets, so that normalization is done here as Windows does it: "/" is a
// separator, repeated separators are one, "." names go, ".." takes the name before it away (never
// the drive or the share), a name loses a single trailing dot, and the last name all its trailing
// dots and blanks ("File path formats on Windows systems", .NET documentation, path normalization).
std::string ExtendedLengthPath(std::string_view path);

}  // namespace orv
