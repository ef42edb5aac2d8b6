#include "launcher/integrity/checklist.h"

#include <algorithm>
#include <limits>
#include <map>
#include <utility>

#include "launcher/base/errors.h"
#include "launcher/integrity/crc32.h"
#include "launcher/platform/files.h"
#include "launcher/platform/utf8.h"

namespace orv {
namespace {

constexpr std::string_view kFolderMarker = "\\.";

bool EndsWith(std::string_view text, std::string_view tail) {
    return text.size() >= tail.size() && text.substr(text.size() - tail.size()) == tail;
}

char AsciiUpper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

// CON, PRN, AUX, NUL, COM0-9, LPT0-9, CONIN$, CONOUT$: Windows opens the device whatever folder
// precedes them and whatever extension follows.
bool IsDeviceName(std::string_view name) {
    std::string stem(name.substr(0, name.find('.')));
    while (!stem.empty() && stem.back() == ' ') stem.pop_back();
    std::transform(stem.begin(), stem.end(), stem.begin(), AsciiUpper);
    if (stem == "CON" || stem == "PRN" || stem == "AUX" || stem == "NUL" || stem == "CONIN$" || stem == "CONOUT$")
        return true;
    if (stem.size() == 4 && (stem.starts_with("COM") || stem.starts_with("LPT")) && stem[3] >= '0' && stem[3] <= '9')
        return true;
    // COM and LPT with a superscript digit (¹²³ in UTF-8) are devices too.
    return (stem.starts_with("COM") || stem.starts_with("LPT")) &&
           (stem.substr(3) == "\xC2\xB9" || stem.substr(3) == "\xC2\xB2" || stem.substr(3) == "\xC2\xB3");
}

bool IsSafeName(std::string_view name) {
    if (name.empty()) return false;
    if (name.find_first_not_of(". ") == std::string_view::npos) return false;  // ".", "..", "...", " "
    if (name.back() == '.' || name.back() == ' ') return false;
    for (const char ch : name) {
        const auto c = static_cast<unsigned char>(ch);
        if (c < 0x20 || c == 0x7F) return false;
        if (std::string_view("<>:\"|?*").find(ch) != std::string_view::npos) return false;
    }
    return !IsDeviceName(name);
}

std::vector<std::string_view> SplitPath(std::string_view path) {
    std::vector<std::string_view> parts;
    size_t start = 0;
    for (size_t i = 0; i <= path.size(); ++i) {
        if (i == path.size() || path[i] == '\\' || path[i] == '/') {
            parts.push_back(path.substr(start, i - start));
            start = i + 1;
        }
    }
    return parts;
}

}  // namespace

bool ChecklistEntry::IsFolder() const { return sizeText == "0" && EndsWith(path, kFolderMarker); }

bool ChecklistEntry::IsEmptyFile() const { return sizeText == "0" && !IsFolder(); }

std::string ChecklistEntry::FolderPath() const { return IsFolder() ? path.substr(0, path.size() - 1) : path; }

std::string ConversionErrorText(std::string_view text) {
    std::string message = "'";
    message.append(text).append("' is not a valid integer value");
    return message;
}

std::optional<int32_t> ParseInt32Decimal(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text[0] == '-' || text[0] == '+')) {
        negative = text[0] == '-';
        text.remove_prefix(1);
    }
    if (text.empty()) return std::nullopt;
    int64_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + (c - '0');
        if (value > int64_t{std::numeric_limits<int32_t>::max()} + 1) return std::nullopt;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max() || value < std::numeric_limits<int32_t>::min()) return std::nullopt;
    return static_cast<int32_t>(value);
}

ChecklistReader::ChecklistReader(std::string bytes, AnsiTextDecoder decode)
    : bytes_(std::move(bytes)), decode_(std::move(decode)) {}

ChecklistReader ChecklistReader::Open(const std::string& path, const AnsiTextDecoder& decode) {
    return ChecklistReader(ReadFileBytes(path), decode);
}

ChecklistReader ChecklistReader::Stream(const std::string& path, const AnsiTextDecoder& decode) {
    ChecklistReader reader(std::string(), decode);
    reader.stream_ = std::make_unique<File>(File::OpenRead(path));
    return reader;
}

bool ChecklistReader::Refill() {
    if (!stream_) return false;
    constexpr size_t kBlock = size_t{1} << 16;
    bytes_.erase(0, pos_);
    pos_ = 0;
    const size_t had = bytes_.size();
    bytes_.resize(had + kBlock);
    const size_t got = stream_->Read(bytes_.data() + had, kBlock);
    bytes_.resize(had + got);
    if (got == 0) stream_.reset();
    return got > 0;
}

bool ChecklistReader::AtEnd() {
    while (pos_ >= bytes_.size())
        if (!Refill()) return true;
    return false;
}

bool ChecklistReader::ReadLine(std::string& line) {
    line.clear();
    if (AtEnd()) return false;
    size_t lf = bytes_.find('\n', pos_);
    while (lf == std::string::npos && stream_) {
        const size_t scanned = bytes_.size() - pos_;
        if (!Refill()) break;
        lf = bytes_.find('\n', pos_ + scanned);
    }
    const size_t end = lf == std::string::npos ? bytes_.size() : lf;
    std::string_view raw(bytes_.data() + pos_, end - pos_);
    if (!raw.empty() && raw.back() == '\r') raw.remove_suffix(1);
    line.assign(raw);
    pos_ = lf == std::string::npos ? bytes_.size() : lf + 1;
    return true;
}

ChecklistEntry ChecklistReader::Next() {
    ChecklistEntry entry;
    std::string raw[3];
    for (std::string& line : raw)
        if (!ReadLine(line)) entry.complete = false;
    entry.sizeText = decode_(raw[0]).text;
    CodePageText path = decode_(raw[1]);
    raw[1] = std::string();  // a hostile line may be huge: one copy of it at a time is enough
    entry.path = std::move(path.text);
    entry.pathDecoded = path.lossless;
    entry.crcText = decode_(raw[2]).text;
    entry.size = ParseInt32Decimal(entry.sizeText);
    return entry;
}

bool IsSafeRelativeEntryPath(std::string_view path) {
    if (path.size() < 2 || path[0] != '\\') return false;
    if (Utf16Length(path) > LongestEntryPath) return false;
    std::string_view rest = path.substr(1);
    if (EndsWith(rest, kFolderMarker)) rest.remove_suffix(kFolderMarker.size());
    const std::vector<std::string_view> names = SplitPath(rest);
    return std::all_of(names.begin(), names.end(), IsSafeName);
}

std::string WriteChecklist(const std::vector<ChecklistItem>& items, CodePage page) {
    struct Entry {
        bool folder;
        uint64_t size;
        uint32_t crc;
    };
    // Keyed by the path's names: a folder's key is a prefix of its contents' keys and so sorts before
    // them, and the order does not depend on how the items came in.
    std::map<std::vector<std::string>, Entry> entries;
    for (const ChecklistItem& item : items) {
        const std::string listed = "\\" + item.path;
        if (item.path.find_first_of("\r\n") != std::string::npos || !IsSafeRelativeEntryPath(listed) ||
            EndsWith(listed, kFolderMarker) || item.path.find('/') != std::string::npos)
            throw Error("Cannot list \"" + item.path + "\" in the checklist: not a safe relative name");
        if (!item.folder && item.size > static_cast<uint64_t>(std::numeric_limits<int32_t>::max()))
            throw Error("Cannot list \"" + item.path + "\" in the checklist: its " + std::to_string(item.size) +
                        " bytes are more than a checklist can describe (2147483647)");
        std::vector<std::string> key;
        for (std::string_view name : SplitPath(item.path)) key.emplace_back(name);
        // Parents that were not listed get entries of their own: a folder entry creates one level.
        for (size_t depth = 1; depth < key.size(); ++depth) {
            const std::vector<std::string> parent(key.begin(), key.begin() + static_cast<std::ptrdiff_t>(depth));
            const auto found = entries.find(parent);
            if (found == entries.end())
                entries.emplace(parent, Entry{true, 0, 0});
            else if (!found->second.folder)
                throw Error("Cannot list \"" + item.path + "\" in the checklist: a parent is listed as a file");
        }
        const auto [at, added] = entries.emplace(key, Entry{item.folder, item.size, item.crc});
        if (!added) {
            if (at->second.folder && item.folder) continue;  // also added as some item's parent
            throw Error("Cannot list \"" + item.path + "\" in the checklist: it is listed twice");
        }
    }

    std::string utf8;
    for (const auto& [names, entry] : entries) {
        std::string path;
        for (const std::string& name : names) path += "\\" + name;
        if (entry.folder) {
            utf8 += "0\r\n" + path + "\\.\r\n0\r\n";
        } else if (entry.size == 0) {
            utf8 += "0\r\n" + path + "\r\n0\r\n";
        } else {
            utf8 += std::to_string(entry.size) + "\r\n" + path + "\r\n" + Crc32Text(entry.crc) + "\r\n";
        }
        const CodePageText encoded = Utf8ToAnsi(path, page);
        if (!encoded.lossless)
            throw Error("Cannot list \"" + path.substr(1) + "\" in the checklist: code page " +
                        std::to_string(CodePageNumber(page)) + " has no character \"" +
                        Utf8CharacterAt(path, encoded.firstFailure) + "\"");
    }
    return Utf8ToAnsi(utf8, page).text;
}

size_t ChecklistFileCount(const std::vector<ChecklistItem>& items) {
    return static_cast<size_t>(
        std::count_if(items.begin(), items.end(), [](const ChecklistItem& i) { return !i.folder; }));
}

}  // namespace orv
