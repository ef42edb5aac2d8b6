#include <sys/stat.h>

#include "launcher/platform/file_helpers.h"
#include "launcher/platform/files.h"
#include "launcher/platform/native_path_posix.h"

namespace orv {

std::string GetShortPath(const std::string& path) {
    struct stat st {};
    if (path.empty() || ::stat(NativePath(path).c_str(), &st) != 0) return {};
    return path;
}

void CreateEmptyFile(const std::string& path) { File::Create(path).Close(); }

int64_t FileSize64(const std::string& path) {
    struct stat st {};
    if (::stat(NativePath(path).c_str(), &st) != 0) return -1;
    // As on Windows, where a folder's attributes carry no size.
    if (S_ISDIR(st.st_mode)) return 0;
    return static_cast<int64_t>(st.st_size);
}

}  // namespace orv
