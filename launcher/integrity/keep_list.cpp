#include "launcher/integrity/keep_list.h"

#include <nlohmann/json.hpp>

#include "launcher/base/errors.h"
#include "launcher/base/json_text.h"
#include "launcher/integrity/checklist.h"
#include "launcher/platform/utf8.h"

namespace orv {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr const char* kNotJson = "File does not contains JSON-data.";

bool IsAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

void CheckPath(const std::string& path) {
    // The JSON writer cannot hold malformed UTF-8; the message shows what it can of the name.
    const std::string readable = Utf16ToUtf8(Utf8ToUtf16(path));
    if (readable != path) throw Error("Cannot put \"" + readable + "\" in the keep list: not valid UTF-8");
    if (path.empty() || path[0] == '\\' || !IsSafeRelativeEntryPath("\\" + path))
        throw Error("Cannot put \"" + path + "\" in the keep list: not a safe relative name");
}

// Strings, numbers, true, false and null by their text; nested arrays and objects name nothing.
std::vector<std::string> Elements(const JsonMember& array) {
    std::vector<std::string> out;
    for (const JsonText& element : array.elements)
        if (element.kind != JsonKind::Array && element.kind != JsonKind::Object) out.push_back(element.text);
    return out;
}

}  // namespace

std::string WriteKeepList(const KeepList& list) {
    bool ascii = true;
    for (const auto* names : {&list.Files, &list.Dirs}) {
        for (const std::string& path : *names) {
            CheckPath(path);
            ascii = ascii && IsAscii(path);
        }
    }
    const nlohmann::ordered_json document = {{"Files", list.Files}, {"Dirs", list.Dirs}};
    // One name per line keeps the published file readable and its changes small in a diff.
    std::string text = document.dump(1, '\t', /*ensure_ascii=*/false) + "\r\n";
    std::string::size_type at = 0;
    while ((at = text.find('\n', at)) != std::string::npos) {
        if (at == 0 || text[at - 1] != '\r') text.insert(at++, 1, '\r');
        ++at;
    }
    return ascii ? text : std::string(kUtf8Bom) + text;
}

KeepList ReadKeepList(std::string_view bytes, CodePage ansiPage) {
    return ReadKeepList(bytes, [ansiPage](std::string_view ansi) { return AnsiToUtf8(ansi, ansiPage).text; });
}

KeepList ReadKeepList(std::string_view bytes, const AnsiDecoder& ansiToUtf8) {
    const std::optional<JsonMembers> document = ReadJsonMembers(TextOfDocument(bytes, ansiToUtf8));
    if (!document) throw Error(kNotJson);
    const auto files = document->find("Files");
    const auto dirs = document->find("Dirs");
    if (files == document->end() || dirs == document->end() || files->second.kind != JsonKind::Array ||
        dirs->second.kind != JsonKind::Array)
        throw Error(kNotJson);
    return KeepList{Elements(files->second), Elements(dirs->second)};
}

}  // namespace orv
