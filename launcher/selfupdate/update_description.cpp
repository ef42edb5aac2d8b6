#include "launcher/selfupdate/update_description.h"

#include <charconv>

#include "launcher/base/json_text.h"

namespace orv {

std::optional<UpdateDescription> ReadUpdateDescription(std::string_view bytes, CodePage ansiPage) {
    return ReadUpdateDescription(bytes, [ansiPage](std::string_view ansi) { return AnsiToUtf8(ansi, ansiPage).text; });
}

std::optional<UpdateDescription> ReadUpdateDescription(std::string_view bytes, const AnsiDecoder& ansiToUtf8) {
    const std::optional<JsonMembers> document = ReadJsonMembers(TextOfDocument(bytes, ansiToUtf8));
    if (!document) return std::nullopt;
    std::optional<std::string> texts[4];
    const char* keys[4] = {"DownloadURL", "LzmaFileSize", "LzmaFileCRC32", "FileCRC32"};
    for (int i = 0; i < 4; ++i) {
        const auto it = document->find(keys[i]);
        if (it == document->end()) return std::nullopt;
        // "LzmaFileCRC32" is only read: its presence is all that counts.
        if (i != 2 && !IsPlainJsonValue(it->second.kind)) return std::nullopt;
        texts[i] = it->second.text;
    }
    UpdateDescription d;
    d.DownloadURL = *texts[0];
    const std::string& size = *texts[1];
    const auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), d.LzmaFileSize);
    if (error != std::errc() || end != size.data() + size.size() || size.empty()) return std::nullopt;
    d.LzmaFileCRC32 = *texts[2];
    d.FileCRC32 = *texts[3];
    // Only a signed release has one; a value of another type is no signature.
    if (const auto signature = document->find("Signature");
        signature != document->end() && signature->second.kind == JsonKind::String)
        d.Signature = signature->second.text;
    return d;
}

bool FileCrc32Matches(uint32_t crc, const std::string& fileCrc32) { return std::to_string(crc) == fileCrc32; }


}  // namespace orv
