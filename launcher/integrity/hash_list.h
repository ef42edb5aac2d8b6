// The hash list "<checklist>.dim.sha256" of a signed build: one line per checklist entry, in the
// checklist's order,
//
//   <64 lower-case hex digits of the SHA-256> <size in decimal> LF
//
// folders included (the hash of no bytes, size 0), so the list walks in step with the checklist.
// The checklist's signed statement names the list's own SHA-256, size and entry count; a reader
// checks that before it reads a line. Streamed: a list of 200,000 entries is never held whole.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "launcher/platform/files.h"
#include "launcher/platform/sha256.h"

namespace orv {

constexpr size_t kHashListLineBytes = 64 + 1 + 20 + 1;  // the longest valid line with its LF

struct HashListEntry {
    Sha256Digest sha256{};
    uint64_t size = 0;
};

std::string HashListLine(const HashListEntry& entry);

class HashListReader {
public:
    // Raises EOSError when the file cannot be opened.
    static HashListReader Open(const std::string& path);
    HashListReader(HashListReader&&) noexcept;
    HashListReader& operator=(HashListReader&&) noexcept;
    ~HashListReader();

    // The next entry; nothing at the end or when a line is malformed (then `Failed()`).
    std::optional<HashListEntry> Next();
    bool Failed() const { return failed_; }
    bool AtEnd();

private:
    explicit HashListReader(File file);
    bool Refill();

    std::unique_ptr<File> file_;
    std::string buffer_;
    size_t pos_ = 0;
    bool eof_ = false;
    bool failed_ = false;
};

}  // namespace orv
