// The rule that decides whether a listed file is in line, and the step that unpacks its
// replacement and proves it before anything takes its place: the same for the launcher's run and
// the headless check, on whatever thread calls them.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "launcher/platform/sha256.h"

namespace orv {

enum class FileState {
    Good,        // there, with the listed size and CRC-32
    Missing,     // no file at its place (a folder there counts as none)
    OtherSize,
    OtherCrc,
    Unreadable,  // there with the listed size, but it could not be read
    Stopped,     // the stop came before the CRC-32 was known
};

// The word the headless check prints for a state ("missing", "size", "crc", "unreadable").
const char* FileStateReason(FileState state);

struct FileCheck {
    FileState state = FileState::Missing;
    uint32_t attributes = 0;  // as found, for the caller that clears them
    uint64_t bytesRead = 0;
};

// Files are read for their CRC-32 in blocks of this size.
inline constexpr size_t FileCheckBlock = size_t{1} << 18;

// The CRC-32 of a file, read in blocks of `buffer`'s size; nothing when it cannot be opened or
// read, or once `stop` is set. `bytes` grows by what was read.
std::optional<uint32_t> ReadFileCrc32(const std::string& path, const std::atomic<bool>& stop,
                                      std::vector<char>& buffer, uint64_t& bytes);

// Exists, then size, then CRC-32 (its decimal text against `crcText`), in that order, each asked
// only when the one before held.
FileCheck CheckListedFile(const std::string& place, int64_t size, const std::string& crcText,
                          const std::atomic<bool>& stop, std::vector<char>& buffer);

enum class UnpackState {
    Unpacked,      // `output` holds the listed content
    NotUnpacked,   // not an ".lzma" file, damaged or cut short
    OtherContent,  // unpacked, but to another size or CRC-32 than listed
    OtherHash,     // the listed size and CRC-32, but not the SHA-256 the publisher signed
    FileError,     // the input could not be read or the output written (`error` says why)
    Stopped,
};

struct UnpackOutcome {
    UnpackState state = UnpackState::NotUnpacked;
    std::string error;
    uint64_t bytes = 0;  // unpacked
};

// Unpacks `input` into `output` and checks what came out against the listed size and CRC-32, and
// the signed SHA-256 when there is one, while it is written. Nothing stays at `output` unless the
// state is Unpacked.
UnpackOutcome UnpackChecked(const std::string& input, const std::string& output, int64_t size,
                            const std::string& crcText, const std::atomic<bool>& stop,
                            const std::optional<Sha256Digest>& sha256 = std::nullopt);

// What a ".lzma" file unpacks to, read without writing it anywhere: for proving a server's or a
// mirror's file in place.
struct PackedContent {
    bool decoded = false;  // a whole ".lzma" that unpacked (false also when stopped)
    bool stopped = false;
    uint64_t size = 0;
    uint32_t crc32 = 0;
    std::optional<Sha256Digest> sha256;  // when asked for and decoded
};

// `stopped` is asked between blocks; a file that cannot be read raises as the file layer does.
PackedContent ReadPackedContent(const std::string& input, const std::function<bool()>& stopped, bool withSha256);

// Copies `source` (a file that may already hold the listed content: a copy of the build) to
// `output`, proving it against the listed size and CRC-32, and the signed SHA-256 when there is one,
// as it goes, so that a slow source is read once. A source that is missing, a folder or of another
// size is not opened (NotUnpacked); one that cannot be read is a FileError; OtherContent and
// OtherHash as for an unpack. An empty `output`: the source is only read and proven. Nothing stays
// at `output` unless the state is Unpacked. `bytes` of the outcome: what was read.
UnpackOutcome CopyChecked(const std::string& source, const std::string& output, int64_t size,
                          const std::string& crcText, const std::atomic<bool>& stop,
                          const std::optional<Sha256Digest>& sha256, std::vector<char>& buffer);

}  // namespace orv
