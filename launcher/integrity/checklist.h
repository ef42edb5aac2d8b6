// The checklist (".dim"): every folder and file of a build with its size and CRC-32, three text
// lines per entry, in an 8-bit ANSI code page. The reader serves the check run; the writer serves
// the publisher, and both agree on the rules below.
//
//   line 1  size in bytes, signed 32-bit decimal; exactly "0" marks a folder or an empty file
//   line 2  path relative to the game folder, beginning with "\"; a folder's ends with "\."
//   line 3  CRC-32 as unsigned decimal text (not used for "0" entries)
//
// Lines end in CR LF or LF. The file ends right after the last entry's third line: a further empty
// line is read as the size line of another entry, which then fails to convert.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "launcher/base/codepage.h"
#include "launcher/platform/files.h"

namespace orv {

// One entry as read. Texts are UTF-8.
struct ChecklistEntry {
    std::string sizeText;  // line 1 as it stands
    std::string path;      // line 2
    std::string crcText;   // line 3
    // Line 1 as a number; nothing when it is not a signed 32-bit decimal integer (the run reports
    // ConversionErrorText(sizeText) then).
    std::optional<int32_t> size;
    // False when line 2 held a byte the code page does not define (U+FFFD stands in its place).
    bool pathDecoded = true;
    // False when the file ended before the entry's third line; the missing lines read as empty.
    bool complete = true;

    // Size exactly "0" and a path ending in "\.".
    bool IsFolder() const;
    // Size exactly "0" and not a folder.
    bool IsEmptyFile() const;
    // A folder entry's path without its final "." (ends in "\").
    std::string FolderPath() const;
};

// "'<text>' is not a valid integer value": how a size or count that does not convert is reported.
std::string ConversionErrorText(std::string_view text);
// A signed 32-bit decimal integer: an optional sign and at least one digit, nothing else.
std::optional<int32_t> ParseInt32Decimal(std::string_view text);

// Reads entries one at a time, as the check run walks them.
class ChecklistReader {
public:
    ChecklistReader(std::string bytes, AnsiTextDecoder decode);
    // The whole file. Raises EOSError when it cannot be opened or read.
    static ChecklistReader Open(const std::string& path, const AnsiTextDecoder& decode);
    // The file a block at a time, for lists too long to hold: memory stays at one block plus the
    // longest line. Raises EOSError when it cannot be opened; a read error ends the list there.
    static ChecklistReader Stream(const std::string& path, const AnsiTextDecoder& decode);

    // True once every byte has been read.
    bool AtEnd();
    // The next three lines. At the end, or when the file ends inside the entry, the missing lines
    // are empty and `complete` is false.
    ChecklistEntry Next();

private:
    // One line without its end; false when nothing was left to read.
    bool ReadLine(std::string& line);
    // Drops what was read and appends the next block of a streamed file; false at its end.
    bool Refill();

    std::string bytes_;
    size_t pos_ = 0;
    AnsiTextDecoder decode_;
    std::unique_ptr<File> stream_;  // a streamed file while more blocks may come
};

// Whether a checklist path names something inside the game folder when appended to it: one
// leading "\", then names separated by "\" (a "/" counts as a separator too, as on Windows), with
// an optional final "\." for a folder. Refused: an empty path or name, "." and ".." (and any name
// of only dots and blanks), a leading "\\" (a network or device path), a drive letter or any ":"
// (also alternate data streams), control characters and <>"|?*, names ending in "." or a blank
// (Windows drops those and would use another name), device names such as "NUL" or "com1.txt",
// and a path longer than LongestEntryPath UTF-16 units, which no Windows file can have.
bool IsSafeRelativeEntryPath(std::string_view path);
inline constexpr size_t LongestEntryPath = 32767;

// One folder or file of a build, as the publisher found it.
struct ChecklistItem {
    std::string path;  // relative to the game folder, "\"-separated, without a leading "\"; UTF-8
    bool folder = false;
    uint64_t size = 0;  // files only
    uint32_t crc = 0;   // files only
};

// The checklist bytes of a build: every item as one entry, each folder before everything inside it
// (a missing parent folder gets an entry of its own), in a stable name order, CR LF line ends, text
// in `page`. Raises Error naming the item for a path that is unsafe or holds a line break, a name
// the code page cannot hold, a file above 2147483647 bytes, or a path listed twice.
std::string WriteChecklist(const std::vector<ChecklistItem>& items, CodePage page);

// The number of entries that count as files for the catalogue's "kolf": every item not a folder.
size_t ChecklistFileCount(const std::vector<ChecklistItem>& items);

}  // namespace orv
