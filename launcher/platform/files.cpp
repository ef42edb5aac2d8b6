#include "launcher/platform/files.h"

#include "launcher/base/errors.h"

namespace orv {

size_t File::Read(void* buffer, size_t size) {
    try {
        return ReadOrRaise(buffer, size);
    } catch (const EOSError&) {
        return 0;
    }
}

PendingFile::PendingFile(const std::string& path, FileSharing sharing)
    : path_(path), file_(File::Create(path, sharing)) {}

PendingFile::~PendingFile() {
    if (kept_) return;
    // Closed first: Windows does not delete a file that is still open.
    file_.Abandon();
    RemoveFile(path_);
}

void PendingFile::Keep() {
    file_.Close();
    kept_ = true;
}

void WriteNewFile(const std::string& path, const std::string& bytes) {
    PendingFile out(path);
    out.Write(bytes.data(), bytes.size());
    out.Flush();
    out.Keep();
}

std::string ReadFileBytes(const std::string& path) {
    File file = File::OpenRead(path);
    std::string bytes;
    // Grown block by block, the string would hold up to twice the file while it moves.
    bytes.reserve(static_cast<size_t>(file.Size()));
    char buffer[65536];
    while (const size_t n = file.ReadOrRaise(buffer, sizeof buffer)) bytes.append(buffer, n);
    return bytes;
}

}  // namespace orv
