// How one checklist entry is put into a game folder, shared by the launcher's check run and the
// headless check of orvanta-tool: what the entry names, where it lies, where its download and its
// new content go before they take its place, and the step that puts them there.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace orv {

struct ChecklistEntry;

enum class TargetKind {
    Refused,     // names nothing safe inside the game folder
    GameRoot,    // "\." with size "0": the game folder itself, nothing to do
    Folder,      // size "0" and a path ending in "\."
    File,        // anything else: an empty file for size "0", a checked one otherwise
};

struct EntryTarget {
    TargetKind kind = TargetKind::Refused;
    // "\" and the names joined by "\", as Windows keeps them on disk (a folder's without its final
    // "\."); empty for the game folder and a refused entry.
    std::string path;
};

// What a listed path names, for an entry whose size line is exactly "0" (`zeroSize`) or not.
// Windows drops the dots and blanks that end a file name, so a name is taken without them, and the
// names inside a folder listed that way are found under its stripped name too; what remains must
// pass IsSafeRelativeEntryPath (checklist.h). A file entry whose path ends in "\." is refused: it
// would name a folder.
EntryTarget ResolveEntry(std::string_view listedPath, bool zeroSize);
EntryTarget ResolveEntry(const ChecklistEntry& entry);

// The game folder (no trailing separator) followed by a resolved entry path (which begins with "\").
std::string EntryPlace(const std::string& gameFolder, const std::string& entryPath);
// Where a file's ".lzma" is downloaded to: beside the file, its name followed by ".lzma".
std::string DownloadTargetPath(const std::string& place);
// The name beside a file that its new content is unpacked to before it takes the file's place.
std::string UnpackTemporaryPath(const std::string& place);
// The names beside a file that the chunks of its new content are fetched to: this followed by a
// connection's number (chunk_assembly.h).
std::string ChunkFetchStem(const std::string& place);
// True for a name that only these steps create (a leftover of a run that was cut off).
bool IsUnpackTemporaryPath(const std::string& path);
// The record beside a partial download of the file at `place` (resume_rules.h): with it, the
// download is kept for a later run to go on with.
std::string PartialRecordPath(const std::string& place);
// What a run cut off while repairing the file at `place` may have left beside it: the download,
// the unpacked content that had not yet taken the file's place, the download's record and the
// chunks being fetched.
std::vector<std::string> LeftoversBeside(const std::string& place);
// Whether a file name found in a folder may be such a leftover of a file beside it (its ending
// compared without regard to letter case, as the platform compares names).
bool IsLeftoverName(std::string_view name);

// Unpacks the downloaded `target` beside `place` and puts the result in the place of the file in
// one step. False when anything failed or raised: the place then holds what it held before and the
// temporary file is gone. The target is left for the caller to delete.
bool UnpackIntoPlace(const std::string& target, const std::string& place,
                     const std::function<bool(const std::string& input, const std::string& output)>& unpack,
                     const std::function<bool(const std::string& from, const std::string& to)>& replace,
                     const std::function<bool(const std::string& path)>& remove);

}  // namespace orv
