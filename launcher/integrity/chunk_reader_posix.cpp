#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "launcher/base/errors.h"
#include "launcher/integrity/chunk_reader.h"
#include "launcher/platform/native_path_posix.h"

namespace orv {

ChunkReader ChunkReader::Open(const std::string& path) {
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) RaiseLastPlatformError();
    FileHandle handle(fd);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        errno = EISDIR;
        RaiseLastPlatformError();
    }
    return ChunkReader(std::move(handle));
}

size_t ChunkReader::ReadAt(uint64_t offset, void* buffer, size_t size) {
    size_t done = 0;
    while (done < size) {
        const ssize_t got = ::pread(static_cast<int>(handle_.Get()), static_cast<char*>(buffer) + done, size - done,
                                    static_cast<off_t>(offset + done));
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) RaiseLastPlatformError();
        if (got == 0) break;
        done += static_cast<size_t>(got);
    }
    return done;
}

}  // namespace orv
