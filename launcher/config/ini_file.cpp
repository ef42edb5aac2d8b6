#include "launcher/config/ini_file.h"

#include "launcher/platform/files.h"

namespace orv {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kCrLf = "\r\n";

// The profile services strip these around names, "=" and values, not only space and tab: a
// vertical tab or form feed before "[sec]" still makes the line that section's header, and 0x1A
// (the DOS end-of-file mark that old editors leave behind) counts as a blank too.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1A'; }

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

// The profile services keep names and values as C strings, so a NUL byte ends them, after the
// line has been taken apart and trimmed: "k\0x=v" is key "k" with value "v".
std::string_view UpToNul(std::string_view text) { return text.substr(0, text.find('\0')); }

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

enum class LineKind { Blank, Section, Key };

struct ParsedLine {
    LineKind kind = LineKind::Blank;
    std::string_view name;  // section or key
    std::optional<std::string_view> value;  // keys: the text after "=", none for a line without one
};

// Every non-blank line that is not a section header is a key's line, as the profile services see
// it: ";x=1" is key ";x", and a line without "=" is a key without a value, which a read answers
// with the default and a write fills in.
ParsedLine Parse(std::string_view text) {
    const std::string_view t = TrimBlanks(text);
    if (t.empty()) return {};
    if (t.front() == '[') {
        // The last "]", so that a section name holding one (it may come from the catalogue) is found again.
        const size_t close = t.rfind(']');
        if (close != std::string_view::npos)
            return {LineKind::Section, UpToNul(TrimBlanks(t.substr(1, close - 1))), std::nullopt};
    }
    const size_t equals = t.find('=');
    if (equals == std::string_view::npos) return {LineKind::Key, UpToNul(t), std::nullopt};
    return {LineKind::Key, UpToNul(TrimBlanks(t.substr(0, equals))), UpToNul(TrimBlanks(t.substr(equals + 1)))};
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// A text as the profile services would take it from a caller: up to its first NUL, and on one
// line, since line breaks would let it start lines of its own (keys, sections).
std::string AsWritten(std::string_view text) {
    std::string result(UpToNul(text));
    for (char& c : result)
        if (c == '\r' || c == '\n') c = ' ';
    return result;
}

template <typename Visit>
void ForEachLine(std::string_view bytes, Visit visit) {
    size_t i = 0;
    while (i < bytes.size()) {
        size_t j = i;
        while (j < bytes.size() && bytes[j] != '\r' && bytes[j] != '\n') ++j;
        const std::string_view text = bytes.substr(i, j - i);
        size_t endLength = 0;
        if (j < bytes.size()) endLength = bytes[j] == '\r' && j + 1 < bytes.size() && bytes[j + 1] == '\n' ? 2 : 1;
        visit(text, bytes.substr(j, endLength));
        i = j + endLength;
    }
}

}  // namespace

IniDocument::IniDocument(std::string_view bytes) {
    ForEachLine(bytes, [this](std::string_view text, std::string_view end) {
        lines_.push_back({std::string(text), std::string(end)});
    });
}

std::string_view IniDocument::Content(size_t index) const {
    std::string_view text = lines_[index].text;
    if (index == 0 && text.substr(0, kUtf8Bom.size()) == kUtf8Bom) text.remove_prefix(kUtf8Bom.size());
    return text;
}

std::optional<IniDocument::Range> IniDocument::FindSection(std::string_view section) const {
    section = TrimBlanks(UpToNul(section));
    size_t begin = 0;
    if (!section.empty()) {
        // A header whose name is empty ("[]") opens a section that no name finds: the empty name
        // stands for the lines before the first header.
        size_t i = 0;
        for (; i < lines_.size(); ++i) {
            const ParsedLine line = Parse(Content(i));
            if (line.kind == LineKind::Section && !line.name.empty() && SameName(line.name, section)) break;
        }
        if (i == lines_.size()) return std::nullopt;
        begin = i + 1;
    }
    size_t end = begin;
    while (end < lines_.size() && Parse(Content(end)).kind != LineKind::Section) ++end;
    return Range{begin, end};
}

std::optional<std::string> IniDocument::Find(std::string_view section, std::string_view key) const {
    const std::optional<Range> range = FindSection(section);
    if (!range) return std::nullopt;
    key = TrimBlanks(UpToNul(key));
    for (size_t i = range->begin; i < range->end; ++i) {
        const ParsedLine line = Parse(Content(i));
        if (line.kind != LineKind::Key || !SameName(line.name, key)) continue;
        // The first line of the key decides, also when it has no value.
        if (!line.value) return std::nullopt;
        return std::string(Unquote(*line.value).substr(0, IniMaxValueBytes));
    }
    return std::nullopt;
}

std::string IniDocument::Get(std::string_view section, std::string_view key, std::string_view fallback) const {
    std::optional<std::string> value = Find(section, key);
    return value ? std::move(*value) : std::string(fallback);
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    const std::string sectionName(TrimBlanks(AsWritten(section)));
    const std::string keyName(TrimBlanks(AsWritten(key)));
    const std::string text = AsWritten(value);

    const std::optional<Range> range = FindSection(sectionName);
    if (!range) {
        if (!lines_.empty() && lines_.back().end.empty()) lines_.back().end = kCrLf;
        lines_.push_back({"[" + sectionName + "]", std::string(kCrLf)});
        lines_.push_back({keyName + "=" + text, std::string(kCrLf)});
        return;
    }
    size_t at = range->begin;
    for (size_t i = range->begin; i < range->end; ++i) {
        const ParsedLine line = Parse(Content(i));
        if (line.kind != LineKind::Key) continue;
        if (SameName(line.name, keyName)) {
            std::string replaced = std::string(line.name) + "=" + text;
            if (i == 0 && Content(0).size() != lines_[0].text.size()) replaced.insert(0, kUtf8Bom);
            lines_[i].text = std::move(replaced);
            return;
        }
        at = i + 1;
    }
    // After the section's last key, so that blank lines separating it from the next section stay
    // where they are.
    Line added{keyName + "=" + text, std::string(kCrLf)};
    if (at == 0 && !lines_.empty() && Content(0).size() != lines_[0].text.size()) {
        // A new first line: the byte-order mark stays the file's first bytes.
        lines_[0].text.erase(0, kUtf8Bom.size());
        added.text.insert(0, kUtf8Bom);
    }
    if (at > 0 && lines_[at - 1].end.empty()) lines_[at - 1].end = kCrLf;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), std::move(added));
}
std::string IniDocument::Bytes() const {
    std::string bytes;
    for (const Line& line : lines_) {
        bytes += line.text;
        bytes += line.end;
    }
    return bytes;
}

std::string NormalizeIniLines(std::string_view bytes) {
    if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) bytes.remove_prefix(kUtf8Bom.size());
    std::string result;
    result.reserve(bytes.size() + 16);
    ForEachLine(bytes, [&result](std::string_view text, std::string_view) {
        result += text;
        result += kCrLf;
    });
    return result;
}

IniDocument LoadIniFile(const std::string& path) {
    if (!FileExists(path)) return IniDocument();
    return IniDocument(ReadFileBytes(path));
}

void SaveIniFile(const std::string& path, const IniDocument& document) { WriteFileReplacing(path, document.Bytes()); }

std::string ReadIniString(const std::string& path, std::string_view section, std::string_view key,
                          std::string_view fallback) {
    return LoadIniFile(path).Get(section, key, fallback);
}

void WriteIniString(const std::string& path, std::string_view section, std::string_view key, std::string_view value) {
    IniDocument document = LoadIniFile(path);
    document.Set(section, key, value);
    SaveIniFile(path, document);
}

void RewriteIniFileNormalized(const std::string& path) { WriteFileReplacing(path, NormalizeIniLines(ReadFileBytes(path))); }

}  // namespace orv
