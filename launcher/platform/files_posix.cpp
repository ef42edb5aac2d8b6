#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "launcher/base/errors.h"
#include "launcher/platform/files.h"
#include "launcher/platform/native_path_posix.h"

namespace orv {

std::string NativePath(const std::string& path) {
    std::string result = path;
    for (char& c : result)
        if (c == '\\') c = '/';
    return result;
}

namespace {

[[noreturn]] void RaiseErrno(int code) { throw EOSError(static_cast<uint32_t>(code), PlatformErrorMessage(code)); }

}  // namespace

std::string PlatformErrorMessage(uint32_t code, void*) { return std::strerror(static_cast<int>(code)); }

void RaiseLastPlatformError() { RaiseErrno(errno); }

void FileHandleTraits::Close(Type handle) noexcept { ::close(static_cast<int>(handle)); }

File File::OpenRead(const std::string& path) {
    const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) RaiseErrno(errno);
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        RaiseErrno(EISDIR);
    }
    return File(FileHandle(fd));
}

File File::Create(const std::string& path, FileSharing /*sharing: no lock to take*/) {
    const std::string native = NativePath(path);
    struct stat st {};
    // Windows refuses a read-only file even to administrators; root would not be refused here.
    if (::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) RaiseErrno(EACCES);
    const int fd = ::open(native.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) RaiseErrno(errno);
    return File(FileHandle(fd));
}

File File::OpenForAppend(const std::string& path, uint64_t keepBytes, FileSharing /*sharing: no lock to take*/) {
    const std::string native = NativePath(path);
    struct stat st {};
    // As Create: the read-only file Windows refuses, whoever runs.
    if (::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) RaiseErrno(EACCES);
    const int fd = ::open(native.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) RaiseErrno(errno);
    File file{FileHandle(fd)};
    if (::fstat(fd, &st) != 0) RaiseErrno(errno);
    if (!S_ISREG(st.st_mode)) RaiseErrno(EISDIR);
    if (static_cast<uint64_t>(st.st_size) < keepBytes) RaiseErrno(EINVAL);
    const off_t at = static_cast<off_t>(keepBytes);
    if (::ftruncate(fd, at) != 0 || ::lseek(fd, at, SEEK_SET) != at) RaiseErrno(errno);
    return file;
}

size_t File::ReadOrRaise(void* buffer, size_t size) {
    for (;;) {
        const ssize_t n = ::read(static_cast<int>(handle_.Get()), buffer, size);
        if (n >= 0) return static_cast<size_t>(n);
        if (errno != EINTR) RaiseErrno(errno);
    }
}

void File::Write(const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t n = ::write(static_cast<int>(handle_.Get()), p, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            RaiseErrno(errno);
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
}

uint64_t File::Size() const {
    struct stat st {};
    if (::fstat(static_cast<int>(handle_.Get()), &st) != 0) RaiseErrno(errno);
    return static_cast<uint64_t>(st.st_size);
}

void File::Flush() {
    if (::fsync(static_cast<int>(handle_.Get())) != 0) RaiseErrno(errno);
}

void File::Abandon() noexcept { handle_.Reset(); }

void File::Close() {
    const int fd = static_cast<int>(handle_.Release());
    if (fd >= 0 && ::close(fd) != 0) RaiseErrno(errno);
}

bool FileExists(const std::string& path) {
    struct stat st {};
    return ::stat(NativePath(path).c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

FileProbe ProbeFile(const std::string& path) {
    FileProbe probe;
    struct stat st {};
    if (::stat(NativePath(path).c_str(), &st) != 0) return probe;
    probe.exists = !S_ISDIR(st.st_mode);
    probe.size = static_cast<int64_t>(st.st_size);
    return probe;
}

bool DirectoryExists(const std::string& path) {
    struct stat st {};
    return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void WriteFileReplacing(const std::string& path, const std::string& bytes) {
    const std::string native = NativePath(path);
    struct stat st {};
    if (::stat(native.c_str(), &st) == 0 && S_ISREG(st.st_mode) && (st.st_mode & S_IWUSR) == 0) RaiseErrno(EACCES);
    const std::string temp = native + ".orvtmp";
    WriteNewFile(temp, bytes);
    if (::rename(temp.c_str(), native.c_str()) != 0) {
        const int code = errno;
        ::unlink(temp.c_str());
        RaiseErrno(code);
    }
}

bool RemoveFile(const std::string& path) { return ::unlink(NativePath(path).c_str()) == 0; }

void RenameFile(const std::string& from, const std::string& to, ExistingTarget existing) {
    const unsigned flags = existing == ExistingTarget::Refuse ? RENAME_NOREPLACE : 0;
    if (::renameat2(AT_FDCWD, NativePath(from).c_str(), AT_FDCWD, NativePath(to).c_str(), flags) != 0)
        RaiseErrno(errno);
}

HeldFile::HeldFile(const std::string& path) : path_(path) {
    // A POSIX system holds nothing off; the descriptor is for the flush.
    const int fd = ::open(NativePath(path).c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) RaiseErrno(errno);
    handle_.Reset(fd);
}

void HeldFile::Flush() {
    if (::fsync(static_cast<int>(handle_.Get())) != 0) RaiseErrno(errno);
}

void HeldFile::MoveTo(const std::string& to) {
    RenameFile(path_, to, ExistingTarget::Refuse);
    handle_.Reset();
}

void CreateDirectories(const std::string& path) {
    const std::string native = NativePath(path);
    for (size_t pos = 1; pos <= native.size(); ++pos) {
        if (pos != native.size() && native[pos] != '/') continue;
        const std::string part = native.substr(0, pos);
        if (::mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) RaiseErrno(errno);
    }
    if (!DirectoryExists(path)) RaiseErrno(ENOTDIR);
}

}  // namespace orv
