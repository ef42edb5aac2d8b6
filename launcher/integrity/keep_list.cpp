#include "launcher/integrity/keep_list.h"

#include <nlohmann/json.hpp>

#include "launcher/base/errors.h"
#include "launcher/integrity/checklist.h"

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
    if (path.empty() || path[0] == '\\' || !IsSafeRelativeEntryPath("\\" + path))
        throw Error("Cannot put \"" + path + "\" in the keep list: not a safe relative name");
}

std::vector<std::string> Elements(const nlohmann::json& array) {
    std::vector<std::string> out;
    for (const nlohmann::json& element : array) {
        if (element.is_string())
            out.push_back(element.get<std::string>());
        else if (element.is_primitive())
            out.push_back(element.dump());
    }
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
    const nlohmann::json document = nlohmann::json::parse(TextOfDocument(bytes, ansiToUtf8), nullptr, false);
    if (document.is_discarded() || !document.is_object()) throw Error(kNotJson);
    const auto files = document.find("Files");
    const auto dirs = document.find("Dirs");
    if (files == document.end() || dirs == document.end() || !files->is_array() || !dirs->is_array())
        throw Error(kNotJson);
    return KeepList{Elements(*files), Elements(*dirs)};
}

}  // namespace orv
