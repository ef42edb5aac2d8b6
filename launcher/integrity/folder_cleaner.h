// The game folder cleaner: removes from the game folder every file and folder that the server's
// keep list does not name, so that the check that follows brings back only what the game needs.
// The walk decides what may go; the keep list only spares. Links inside the folder are removed
// as links and never followed, so nothing outside the game folder is ever touched.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/config/launcher_identity.h"
#include "launcher/platform/folder_tree.h"

namespace orv {

// One walked entry: its path relative to the walked folder ("cstrike\maps\de_dust2.bsp").
struct WalkedEntry {
    std::string path;
    EntryKind kind;
};

// Every folder and every file below a folder, at every depth. Folders in pre-order (a folder before
// its subfolders), each folder's entries in the order the file system gives them; files in the
// same walk order. A link to a folder is listed among the folders and not entered. A name holding
// "\" or "/" (which only a POSIX folder can hold) is left out, as it cannot be joined into a path.
struct FolderWalk {
    std::vector<WalkedEntry> folders;
    std::vector<WalkedEntry> files;
};
FolderWalk WalkFolder(const std::string& root);

// A sorted list of relative paths looked up without regard to letter case, as a Windows folder
// compares its names.
class KeepNames {
public:
    explicit KeepNames(const std::vector<std::string>& names);
    bool Contains(std::string_view path) const;

private:
    std::vector<std::u16string> folded_;
};

// The names that are always kept, directly in the game folder only: uninstaller files, the
// emulator's backup, the local catalogue and the launcher settings file.
const std::vector<std::string>& FixedKeepNames();

// Removes a file, a link or a folder with everything in it. Read-only files are made writable
// first; links are removed themselves. Failures are ignored: what cannot go stays, and so does a
// name that the walk leaves out (with the folders that hold it).
void RemoveEntry(const std::string& path, EntryKind kind);

// What the cleaner needs from outside the file layer.
struct CleanerServices {
    // Saves the keep list document at `url` to `path`; false when it could not.
    std::function<bool(const std::string& url, const std::string& path)> download;
    // Text of the system's ANSI code page as UTF-8 (a document without a byte-order mark).
    std::function<std::string(std::string_view)> ansiToUtf8;
    // The build's publisher key (128 hex digits). Empty: an unkeyed build, which fetches and checks
    // no statement; a key that does not decode refuses every keep list.
    std::string publisherKey = UpdatePublicKey;
    // Seconds since 1970 UTC, against which the keep list's statement expires; unset: the system
    // clock.
    std::function<int64_t()> now;
};

// The whole cleaner run over `gameFolder`: the safety check (false, after its message, when the
// game executable is missing), the walk, the keep list fetched from `keepListUrl` to "list.json",
// then the file pass and the folder pass. A keyed build also fetches the list's statement to
// "list.json.sig" and follows the list only when the key signed it: otherwise (false, after its
// message) both files go and nothing else. Raises Error "Error downloading URL: ...", "Checklist file
// did not download." or "File does not contains JSON-data." before anything is deleted. True when
// the passes have run.
bool CleanGameFolder(const std::string& gameFolder, const std::string& keepListUrl, const CleanerServices& services);

}  // namespace orv
