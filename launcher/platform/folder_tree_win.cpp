#include "launcher/platform/folder_tree.h"

#include <windows.h>

#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"

namespace orv {
namespace {

// Every reparse point counts as a link: junctions and symbolic links lead elsewhere, and for the
// other kinds removing the entry itself is the most that is ever wanted.
bool IsLink(const WIN32_FIND_DATAW& data) { return (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0; }

}  // namespace

std::vector<FolderEntry> ListFolder(const std::string& path) {
    std::vector<FolderEntry> entries;
    WIN32_FIND_DATAW data{};
    const ScopedFindHandle find(::FindFirstFileExW(Wide(path + "\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                             nullptr, 0));
    if (!find) return entries;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const bool folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        EntryKind kind = folder ? EntryKind::Folder : EntryKind::File;
        if (IsLink(data)) kind = folder ? EntryKind::FolderLink : EntryKind::FileLink;
        entries.push_back(FolderEntry{Narrow(name), kind});
    } while (::FindNextFileW(find.Get(), &data));
    return entries;
}

std::string LongPathForm(const std::string& folder) {
    if (folder.rfind("\\\\?\\", 0) == 0) return folder;
    if (folder.rfind("\\\\", 0) == 0) return "\\\\?\\UNC\\" + folder.substr(2);
    return "\\\\?\\" + folder;
}

bool SetNormalFileAttributes(const std::string& path) {
    return ::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL) != 0;
}

bool RemoveEmptyFolder(const std::string& path) {
    const std::wstring wide = Wide(path);
    // A read-only folder refuses removal only on some systems; the flag means nothing for folders.
    const DWORD attributes = ::GetFileAttributesW(wide.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY))
        ::SetFileAttributesW(wide.c_str(), attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    return ::RemoveDirectoryW(wide.c_str()) != 0;
}

bool RemoveLink(const std::string& path, EntryKind kind) {
    // A folder link is removed as a folder and a file link as a file: both remove the reparse point
    // and leave its target alone.
    const std::wstring wide = Wide(path);
    if (kind == EntryKind::FolderLink && ::RemoveDirectoryW(wide.c_str())) return true;
    // Some systems (Wine over a host's symbolic link) take a folder link away as a file.
    return ::DeleteFileW(wide.c_str()) != 0;
}

}  // namespace orv
