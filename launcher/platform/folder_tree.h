// What the folder cleaner needs of the file system: one folder's entries with their kind, and the
// removal of a file, an empty folder or a link. Paths are UTF-8 and written the Windows way. A link
// (a symbolic link, or a junction on Windows) is reported as a link whatever it points at, so that
// callers can remove it without ever reaching into its target.
#pragma once

#include <string>
#include <vector>

namespace orv {

enum class EntryKind {
    File,
    Folder,
    FileLink,    // a link to a file, or one whose target is missing
    FolderLink,  // a link to a folder: a junction or a folder symbolic link
};

struct FolderEntry {
    std::string name;  // the name alone, never "." or ".."
    EntryKind kind;
};

// The entries of a folder in the order the file system gives them; empty when it cannot be
// listed (missing, refused, not a folder).
std::vector<FolderEntry> ListFolder(const std::string& path);

// The form of an absolute folder path under which paths of any length can be listed: "\\?\" before
// a drive path (and "\\?\UNC\" for a network path) on Windows; the path itself elsewhere.
std::string LongPathForm(const std::string& folder);

// Clears every attribute of a file (read-only among them). False when the platform refuses.
bool SetNormalFileAttributes(const std::string& path);
// Removes a folder that holds nothing. False when it is missing, not empty or refused.
bool RemoveEmptyFolder(const std::string& path);
// Removes a link itself, never what it points to. False when the platform refuses.
bool RemoveLink(const std::string& path, EntryKind kind);

}  // namespace orv
