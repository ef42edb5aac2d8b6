#include "launcher/platform/files.h"

namespace orv {

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

}  // namespace orv
