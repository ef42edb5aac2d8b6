#include "launcher/net/server_paths.h"

namespace orv {
namespace {

std::string Join(std::initializer_list<std::string_view> parts) {
    std::string out;
    for (std::string_view part : parts) out += part;
    return out;
}

}  // namespace

std::string CataloguePath(std::string_view gameCode) { return Join({gameCode, "/inf.ini"}); }

std::string ChecklistPath(std::string_view checklistName, std::string_view gameCode) {
    return Join({gameCode, "/", CompressedChecklistFileName(checklistName)});
}

std::string UpdateDescriptionPath(std::string_view gameCode) { return Join({gameCode, "/version.txt"}); }

std::string UpdateInstallerPath(std::string_view gameCode) { return Join({gameCode, "/upt.exe.lzma"}); }

std::string KeepListPath(std::string_view gameCode) { return Join({gameCode, "/", gameCode, "clean.json"}); }

std::string MonitoringPath(std::string_view gameCode) { return Join({gameCode, "/monitoring/"}); }

std::string ChunkIndexPath(std::string_view checklistName, std::string_view gameCode) {
    return Join({gameCode, "/", checklistName, ".dim.chunks"});
}

std::string ChunkPath(std::string_view sha256Hex) {
    return Join({"chunks/", sha256Hex.substr(0, 2), "/", sha256Hex, ".lzma"});
}

std::string ServerUrl(std::string_view relativePath, std::string_view base) { return Join({base, relativePath}); }

std::string CatalogueUrl(std::string_view base, std::string_view gameCode) {
    return ServerUrl(CataloguePath(gameCode), base);
}

std::string ChecklistUrl(std::string_view checklistName, std::string_view base, std::string_view gameCode) {
    return ServerUrl(ChecklistPath(checklistName, gameCode), base);
}

std::string UpdateDescriptionUrl(std::string_view base, std::string_view gameCode) {
    return ServerUrl(UpdateDescriptionPath(gameCode), base);
}

std::string UpdateInstallerUrl(std::string_view base, std::string_view gameCode) {
    return ServerUrl(UpdateInstallerPath(gameCode), base);
}

std::string KeepListUrl(std::string_view base, std::string_view gameCode) {
    return ServerUrl(KeepListPath(gameCode), base);
}

std::string MonitoringUrl(std::string_view base, std::string_view gameCode) {
    return ServerUrl(MonitoringPath(gameCode), base);
}

std::string GameFileUrl(std::string_view downloadAddress, std::string_view entryPath) {
    std::string url = Join({downloadAddress, entryPath, ".lzma"});
    for (char& c : url)
        if (c == '\\') c = '/';
    return url;
}

std::string ChecklistShownAddress(std::string_view downloadAddress, std::string_view checklistName) {
    return Join({downloadAddress, "/", CompressedChecklistFileName(checklistName)});
}

std::string CompressedChecklistFileName(std::string_view checklistName) { return Join({checklistName, ".dim.lzma"}); }

std::string ChecklistFileName(std::string_view checklistName) { return Join({checklistName, ".dim"}); }

std::string DownloadAddress(std::string_view downloadPath, std::string_view base) {
    return ServerUrl(downloadPath, base);
}

std::optional<std::string> DownloadPathOf(std::string_view downloadAddress, std::string_view base) {
    if (base.empty() || downloadAddress.size() <= base.size() || downloadAddress.substr(0, base.size()) != base)
        return std::nullopt;
    std::string_view rest = downloadAddress.substr(base.size());
    while (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
    if (rest.empty()) return std::nullopt;
    return std::string(rest);
}

bool IsWebAddress(std::string_view address) {
    for (const std::string_view scheme : {std::string_view("http://"), std::string_view("https://")}) {
        if (address.size() <= scheme.size()) continue;
        bool same = true;
        for (size_t i = 0; i < scheme.size() && same; ++i) {
            char c = address[i];
            if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
            same = c == scheme[i];
        }
        if (same) return true;
    }
    return false;
}

std::string ChunkIndexUrl(std::string_view checklistName, std::string_view base, std::string_view gameCode) {
    return ServerUrl(ChunkIndexPath(checklistName, gameCode), base);
}

std::string ChunkUrl(std::string_view sha256Hex, std::string_view base) { return ServerUrl(ChunkPath(sha256Hex), base); }

}  // namespace orv
