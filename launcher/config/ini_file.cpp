#include "launcher/config/ini_file.h"

#include "launcher/platform/files.h"

namespace orv {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kCrLf = "\r\n";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
    return true;
}

enum class LineKind { Other, Section, Entry };

struct ParsedLine {
    LineKind kind = LineKind::Other;
    std::string_view name;   // section or key, without surrounding blanks
    std::string_view value;  // entries: the text after "=", without surrounding blanks
};

ParsedLine Parse(std::string_view text) {
    const std::string_view t = TrimBlanks(text);
    if (t.empty() || t.front() == ';') return {};
    if (t.front() == '[') {
        // The last "]", so that a section name holding one (it may come from the catalogue) is found again.
        const size_t close = t.rfind(']');
        if (close == std::string_view::npos) return {};
        return {LineKind::Section, TrimBlanks(t.substr(1, close - 1)), {}};
    }
    const size_t equals = t.find('=');
    if (equals == std::string_view::npos) return {};
    return {LineKind::Entry, TrimBlanks(t.substr(0, equals)), TrimBlanks(t.substr(equals + 1))};
}

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.substr(1, value.size() - 2);
    return value;
}

// Line breaks in a written text would let it start lines of its own (keys, sections).
std::string OnOneLine(std::string_view text) {
    std::string result(text);
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

size_t IniDocument::FindSection(std::string_view section) const {
    section = TrimBlanks(section);
    for (size_t i = 0; i < lines_.size(); ++i) {
        const ParsedLine line = Parse(Content(i));
        if (line.kind == LineKind::Section && SameName(line.name, section)) return i;
    }
    return std::string_view::npos;
}

std::optional<std::string> IniDocument::Find(std::string_view section, std::string_view key) const {
    const size_t header = FindSection(section);
    if (header == std::string_view::npos) return std::nullopt;
    key = TrimBlanks(key);
    for (size_t i = header + 1; i < lines_.size(); ++i) {
        const ParsedLine line = Parse(Content(i));
        if (line.kind == LineKind::Section) break;
        if (line.kind == LineKind::Entry && SameName(line.name, key)) {
            const std::string_view value = Unquote(line.value);
            return std::string(value.substr(0, IniMaxValueBytes));
        }
    }
    return std::nullopt;
}

std::string IniDocument::Get(std::string_view section, std::string_view key, std::string_view fallback) const {
    std::optional<std::string> value = Find(section, key);
    return value ? std::move(*value) : std::string(fallback);
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    const std::string sectionName(TrimBlanks(OnOneLine(section)));
    const std::string keyName(TrimBlanks(OnOneLine(key)));
    const std::string text = OnOneLine(value);

    const size_t header = FindSection(sectionName);
    if (header != std::string_view::npos) {
        size_t last = header;
        for (size_t i = header + 1; i < lines_.size(); ++i) {
            const ParsedLine line = Parse(Content(i));
            if (line.kind == LineKind::Section) break;
            if (line.kind == LineKind::Entry && SameName(line.name, keyName)) {
                lines_[i].text = std::string(line.name) + "=" + text;
                return;
            }
            if (!TrimBlanks(Content(i)).empty()) last = i;
        }
        // After the section's last entry, so that blank lines separating it from the next section
        // stay where they are.
        if (lines_[last].end.empty()) lines_[last].end = kCrLf;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(last + 1), Line{keyName + "=" + text, std::string(kCrLf)});
        return;
    }
    if (!lines_.empty() && lines_.back().end.empty()) lines_.back().end = kCrLf;
    lines_.push_back({"[" + sectionName + "]", std::string(kCrLf)});
    lines_.push_back({keyName + "=" + text, std::string(kCrLf)});
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
