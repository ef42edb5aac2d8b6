#include "launcher/integrity/entry_rules.h"

#include <exception>

#include "launcher/integrity/checklist.h"
#include "launcher/integrity/chunk_assembly.h"
#include "launcher/net/resume_rules.h"

namespace orv {
namespace {

// Beside the file, under a name no build ships, so that an unpack that breaks off never touches
// the file it is meant to replace.
constexpr const char* kUnpackSuffix = ".orvanta-unpack";
constexpr const char* kChunkSuffix = ".orvanta-chunk";
constexpr std::string_view kFolderMarker = "\\.";

}  // namespace

EntryTarget ResolveEntry(std::string_view listedPath, bool zeroSize) {
    if (zeroSize && listedPath == kFolderMarker) return {TargetKind::GameRoot, ""};
    // A path no Windows file can have is refused before any copy of it is made.
    if (listedPath.size() > 3 * LongestEntryPath) return {};
    const bool folder = listedPath.size() > kFolderMarker.size() && listedPath.ends_with(kFolderMarker);
    if (folder && !zeroSize) return {};
    std::string_view rest = listedPath;
    if (folder) rest.remove_suffix(kFolderMarker.size());
    if (rest.empty() || rest[0] != '\\') return {};
    rest.remove_prefix(1);

    std::string path;
    path.reserve(listedPath.size());
    size_t start = 0;
    for (size_t i = 0; i <= rest.size(); ++i) {
        if (i < rest.size() && rest[i] != '\\' && rest[i] != '/') continue;
        std::string_view name = rest.substr(start, i - start);
        start = i + 1;
        while (!name.empty() && (name.back() == '.' || name.back() == ' ')) name.remove_suffix(1);
        // An empty name stays empty, so that the check below refuses it.
        path.append("\\").append(name);
    }
    if (!IsSafeRelativeEntryPath(path)) return {};
    return {folder ? TargetKind::Folder : TargetKind::File, std::move(path)};
}

EntryTarget ResolveEntry(const ChecklistEntry& entry) { return ResolveEntry(entry.path, entry.sizeText == "0"); }

std::string EntryPlace(const std::string& gameFolder, const std::string& entryPath) { return gameFolder + entryPath; }

std::string DownloadTargetPath(const std::string& place) { return place + ".lzma"; }

std::string UnpackTemporaryPath(const std::string& place) { return place + kUnpackSuffix; }

bool IsUnpackTemporaryPath(const std::string& path) { return path.ends_with(kUnpackSuffix); }

std::string ChunkFetchStem(const std::string& place) { return place + kChunkSuffix; }

std::string PartialRecordPath(const std::string& place) { return ResumeRecordPath(DownloadTargetPath(place)); }

std::vector<std::string> LeftoversBeside(const std::string& place) {
    std::vector<std::string> names = {DownloadTargetPath(place), UnpackTemporaryPath(place), PartialRecordPath(place)};
    for (unsigned n = 1; n <= kMostChunkConnections; ++n) names.push_back(ChunkFetchStem(place) + std::to_string(n));
    return names;
}

bool IsLeftoverName(std::string_view name) {
    const auto endsWith = [name](std::string_view suffix) {
        if (name.size() <= suffix.size()) return false;
        const std::string_view end = name.substr(name.size() - suffix.size());
        for (size_t i = 0; i < end.size(); ++i) {
            const char c = end[i] >= 'A' && end[i] <= 'Z' ? static_cast<char>(end[i] - 'A' + 'a') : end[i];
            if (c != suffix[i]) return false;
        }
        return true;
    };
    static const std::string kRecordSuffix = ResumeRecordPath("");
    if (endsWith(".lzma") || endsWith(kUnpackSuffix) || endsWith(kRecordSuffix)) return true;
    // A chunk's fetch name: the suffix and a connection's number.
    size_t digits = 0;
    while (digits < name.size() && name[name.size() - 1 - digits] >= '0' && name[name.size() - 1 - digits] <= '9') ++digits;
    return digits > 0 && digits <= 2 && endsWith(std::string(kChunkSuffix) + std::string(name.substr(name.size() - digits)));
}

bool UnpackIntoPlace(const std::string& target, const std::string& place,
                     const std::function<bool(const std::string& input, const std::string& output)>& unpack,
                     const std::function<bool(const std::string& from, const std::string& to)>& replace,
                     const std::function<bool(const std::string& path)>& remove) {
    const std::string temporary = UnpackTemporaryPath(place);
    bool done = false;
    try {
        done = unpack(target, temporary) && replace(temporary, place);
    } catch (const std::exception&) {
        done = false;
    }
    if (!done) remove(temporary);
    return done;
}

}  // namespace orv
