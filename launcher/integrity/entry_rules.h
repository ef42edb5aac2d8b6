// How one checklist entry is put into a game folder, shared by the launcher's check run and the
// headless check of orvanta-tool: where the entry lies, where its download and its new content go
// before they take its place, and the step that puts them there. Whether an entry may be touched at
// all is IsSafeRelativeEntryPath (checklist.h).
#pragma once

#include <functional>
#include <string>

namespace orv {

// The game folder (no trailing separator) followed by the entry's path (which begins with "\").
std::string EntryPlace(const std::string& gameFolder, const std::string& entryPath);
// Where a file's ".lzma" is downloaded to: beside the file, its name followed by ".lzma".
std::string DownloadTargetPath(const std::string& place);
// The name beside a file that its new content is unpacked to before it takes the file's place.
std::string UnpackTemporaryPath(const std::string& place);
// True for a name that only these steps create (a leftover of a run that was cut off).
bool IsUnpackTemporaryPath(const std::string& path);

// Unpacks the downloaded `target` beside `place` and puts the result in the place of the file in
// one step. False when anything failed or raised: the place then holds what it held before and the
// temporary file is gone. The target is left for the caller to delete.
bool UnpackIntoPlace(const std::string& target, const std::string& place,
                     const std::function<bool(const std::string& input, const std::string& output)>& unpack,
                     const std::function<bool(const std::string& from, const std::string& to)>& replace,
                     const std::function<bool(const std::string& path)>& remove);

}  // namespace orv
