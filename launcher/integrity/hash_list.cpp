#include "launcher/integrity/hash_list.h"

#include "launcher/selfupdate/hex.h"

namespace orv {
namespace {

constexpr size_t kBlockBytes = 64 * 1024;

}  // namespace

std::string HashListLine(const HashListEntry& entry) {
    return EncodeHex(entry.sha256.data(), entry.sha256.size()) + " " + std::to_string(entry.size) + "\n";
}

HashListReader HashListReader::Open(const std::string& path) { return HashListReader(File::OpenRead(path)); }

HashListReader::HashListReader(File file) : file_(std::make_unique<File>(std::move(file))) {}
HashListReader::HashListReader(HashListReader&&) noexcept = default;
HashListReader& HashListReader::operator=(HashListReader&&) noexcept = default;
HashListReader::~HashListReader() = default;

bool HashListReader::Refill() {
    if (eof_) return false;
    buffer_.erase(0, pos_);
    pos_ = 0;
    const size_t old = buffer_.size();
    buffer_.resize(old + kBlockBytes);
    const size_t got = file_->ReadOrRaise(buffer_.data() + old, kBlockBytes);
    buffer_.resize(old + got);
    if (got == 0) eof_ = true;
    return got != 0;
}

bool HashListReader::AtEnd() {
    if (failed_) return true;
    while (pos_ >= buffer_.size())
        if (!Refill()) return true;
    return false;
}

std::optional<HashListEntry> HashListReader::Next() {
    if (failed_ || AtEnd()) return std::nullopt;
    size_t end;
    while ((end = buffer_.find('\n', pos_)) == std::string::npos) {
        // A line longer than any valid one ends the list: memory stays at a block.
        if (buffer_.size() - pos_ > kHashListLineBytes || !Refill()) {
            failed_ = true;
            return std::nullopt;
        }
    }
    const std::string_view line(buffer_.data() + pos_, end - pos_);
    pos_ = end + 1;
    HashListEntry entry;
    const auto fail = [this]() -> std::optional<HashListEntry> {
        failed_ = true;
        return std::nullopt;
    };
    if (line.size() < 66 || line[64] != ' ') return fail();
    for (char c : line.substr(0, 64))
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return fail();
    const auto digest = DecodeHex(line.substr(0, 64), entry.sha256.size());
    if (!digest) return fail();
    std::copy(digest->begin(), digest->end(), entry.sha256.begin());
    const std::string_view size = line.substr(65);
    if (size.size() > 19 || (size.size() > 1 && size[0] == '0')) return fail();
    for (char c : size) {
        if (c < '0' || c > '9') return fail();
        entry.size = entry.size * 10 + static_cast<uint64_t>(c - '0');
    }
    if (entry.size > static_cast<uint64_t>(INT64_MAX)) return fail();
    return entry;
}

}  // namespace orv
