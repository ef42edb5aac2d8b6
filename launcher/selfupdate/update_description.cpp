#include "launcher/selfupdate/update_description.h"

#include <charconv>

#include <nlohmann/json.hpp>

namespace orv {
namespace {

// A value's text form; nothing for an object, an array or null, which have none.
std::optional<std::string> TextForm(const nlohmann::json& value) {
    if (value.is_string()) return value.get<std::string>();
    if (value.is_number() || value.is_boolean()) return value.dump();
    return std::nullopt;
}

}  // namespace

std::optional<UpdateDescription> ReadUpdateDescription(std::string_view bytes, CodePage ansiPage) {
    const nlohmann::json document = nlohmann::json::parse(TextOfDocument(bytes, ansiPage), nullptr, false);
    if (document.is_discarded() || !document.is_object()) return std::nullopt;
    std::optional<std::string> texts[4];
    const char* keys[4] = {"DownloadURL", "LzmaFileSize", "LzmaFileCRC32", "FileCRC32"};
    for (int i = 0; i < 4; ++i) {
        const auto it = document.find(keys[i]);
        if (it == document.end()) return std::nullopt;
        texts[i] = TextForm(*it);
        if (!texts[i]) return std::nullopt;
    }
    UpdateDescription d;
    d.DownloadURL = *texts[0];
    const std::string& size = *texts[1];
    const auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), d.LzmaFileSize);
    if (error != std::errc() || end != size.data() + size.size() || size.empty()) return std::nullopt;
    d.LzmaFileCRC32 = *texts[2];
    d.FileCRC32 = *texts[3];
    // Only a signed release has one; a value of another type is no signature.
    if (const auto signature = document.find("Signature"); signature != document.end() && signature->is_string())
        d.Signature = signature->get<std::string>();
    return d;
}

bool FileCrc32Matches(uint32_t crc, const std::string& fileCrc32) { return std::to_string(crc) == fileCrc32; }


}  // namespace orv
