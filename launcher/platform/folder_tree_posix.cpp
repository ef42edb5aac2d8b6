#include "launcher/platform/folder_tree.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include "launcher/platform/native_path_posix.h"

namespace orv {

std::vector<FolderEntry> ListFolder(const std::string& path) {
    std::vector<FolderEntry> entries;
    const std::string native = NativePath(path);
    DIR* dir = ::opendir(native.c_str());
    if (!dir) return entries;
    while (const dirent* entry = ::readdir(dir)) {
        const std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        const std::string full = native + "/" + name;
        struct stat own {};
        if (::lstat(full.c_str(), &own) != 0) continue;
        EntryKind kind = S_ISDIR(own.st_mode) ? EntryKind::Folder : EntryKind::File;
        if (S_ISLNK(own.st_mode)) {
            struct stat target {};
            const bool folder = ::stat(full.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
            kind = folder ? EntryKind::FolderLink : EntryKind::FileLink;
        }
        entries.push_back(FolderEntry{name, kind});
    }
    ::closedir(dir);
    return entries;
}

std::string LongPathForm(const std::string& folder) { return folder; }

bool SetNormalFileAttributes(const std::string& path) {
    struct stat st {};
    const std::string native = NativePath(path);
    if (::lstat(native.c_str(), &st) != 0) return false;
    return ::chmod(native.c_str(), (st.st_mode & 07777) | S_IWUSR) == 0;
}

bool RemoveEmptyFolder(const std::string& path) { return ::rmdir(NativePath(path).c_str()) == 0; }

bool RemoveLink(const std::string& path, EntryKind) { return ::unlink(NativePath(path).c_str()) == 0; }

}  // namespace orv
