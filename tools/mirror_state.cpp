// The mirror's memory between runs and the decisions taken from it. The state file is one text
// line per file the mirror wrote; it is only ever a shortcut: a record that is lost or garbled
// costs an unpack of the file, never a wrong file served, since a record counts only while the
// file on disk still has the size and time it had when it was verified.
#include <charconv>

#include "launcher/base/errors.h"
#include "launcher/integrity/checklist.h"
#include "launcher/net/server_paths.h"
#include "tools/mirror.h"

namespace orv::mirror {
namespace {

constexpr std::string_view kStateHeader = "orvanta-mirror-state 1";

bool HasControl(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return true;
    return false;
}

std::optional<int64_t> Number(std::string_view text) {
    int64_t value = 0;
    const auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || ptr != text.data() + text.size() || text.empty()) return std::nullopt;
    return value;
}

bool IsCrcText(std::string_view text) {
    if (text.empty() || text.size() > 10) return false;
    return text.find_first_not_of("0123456789") == std::string_view::npos;
}

bool IsShaText(std::string_view text) {
    return text.size() == 64 && text.find_first_not_of("0123456789abcdef") == std::string_view::npos;
}

std::string Dash(const std::string& text) { return text.empty() ? "-" : text; }
std::string Undash(std::string_view text) { return text == "-" ? std::string() : std::string(text); }

}  // namespace

bool IsMirrorPath(std::string_view path) {
    if (path.empty() || path.size() > kMostStateLine / 2 || path.front() == '/' || path.back() == '/') return false;
    if (HasControl(path) || path.find_first_of("\\:") != std::string_view::npos) return false;
    if (!check::IsDownloadPathBelowBase(path)) return false;
    // The mirror's own files are never game content.
    const std::string_view first = path.substr(0, path.find('/'));
    if (first == kStateFileName || first == kStagingFolder) return false;
    return !path.ends_with(kPartSuffix);
}

std::string WriteState(const MirrorState& state) {
    std::string text(kStateHeader);
    text += '\n';
    for (const auto& [path, r] : state) {
        text += path + '\t' + Dash(r.owner) + '\t' + std::to_string(r.packedSize) + '\t' + std::to_string(r.mtime) +
                '\t' + std::to_string(r.size) + '\t' + Dash(r.crcText) + '\t' + Dash(r.sha256) + '\n';
    }
    return text;
}

MirrorState ReadState(std::string_view text, size_t most) {
    MirrorState state;
    size_t pos = 0;
    bool first = true;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();  // a last line cut off is still tried
        const std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        if (first) {
            first = false;
            if (line != kStateHeader) return {};  // another format: trust none of it
            continue;
        }
        if (line.size() > kMostStateLine) continue;
        std::vector<std::string_view> fields;
        size_t start = 0;
        while (fields.size() < 8) {
            const size_t tab = line.find('\t', start);
            fields.push_back(line.substr(start, tab == std::string_view::npos ? std::string_view::npos : tab - start));
            if (tab == std::string_view::npos) break;
            start = tab + 1;
        }
        if (fields.size() != 7) continue;
        MirrorRecord r;
        r.owner = Undash(fields[1]);
        const std::optional<int64_t> packed = Number(fields[2]), mtime = Number(fields[3]), size = Number(fields[4]);
        r.crcText = Undash(fields[5]);
        r.sha256 = Undash(fields[6]);
        if (!packed || !mtime || !size || *packed < 0 || *size < -1) continue;
        if (!IsMirrorPath(fields[0]) || HasControl(r.owner)) continue;
        if (*size >= 0 && !IsCrcText(r.crcText)) continue;
        if (!r.sha256.empty() && !IsShaText(r.sha256)) continue;
        r.packedSize = *packed;
        r.mtime = *mtime;
        r.size = *size;
        if (state.size() >= most && !state.count(std::string(fields[0])))
            throw Error(std::string("the state file ") + kStateFileName + " holds more than " +
                        std::to_string(most) + " records: remove it and run again");
        state[std::string(fields[0])] = std::move(r);
    }
    return state;
}

Decision Decide(const MirrorRecord* record, const DiskFile& disk, const ListedFile& listed) {
    if (!disk.exists) return Decision::Fetch;
    if (!record || record->packedSize != disk.size || record->mtime != disk.mtime) return Decision::Verify;
    if (record->size != listed.size || record->crcText != listed.crcText) return Decision::Fetch;
    if (listed.sha256.empty() || record->sha256 == listed.sha256) return Decision::Keep;
    // Verified before the build had a hash list: the unpack tells its SHA-256.
    return record->sha256.empty() ? Decision::Verify : Decision::Fetch;
}

bool IsChunkStorePath(std::string_view path) {
    // "chunks/" + 2 + "/" + 64 + ".lzma"
    if (path.size() != 7 + 2 + 1 + 64 + 5 || !path.starts_with("chunks/") || !path.ends_with(".lzma")) return false;
    const std::string_view folder = path.substr(7, 2), name = path.substr(10, 64);
    return path[9] == '/' && IsShaText(name) && name.substr(0, 2) == folder;
}

Decision DecideChunk(const MirrorRecord* record, const DiskFile& disk, const IndexedChunk& chunk) {
    if (!disk.exists || disk.size != static_cast<int64_t>(chunk.packedSize)) return Decision::Fetch;
    if (record && record->packedSize == disk.size && record->mtime == disk.mtime &&
        record->size == static_cast<int64_t>(chunk.size) && record->sha256 == DigestHex(chunk.sha256))
        return Decision::Keep;
    return Decision::Verify;
}

std::optional<std::string> MirrorFilePath(const std::string& downloadAddress, const std::string& serverBase,
                                          const std::string& entryPath) {
    const std::optional<std::string> below = DownloadPathOf(downloadAddress, serverBase);
    if (!below || !check::IsDownloadPathBelowBase(*below)) return std::nullopt;
    if (!IsSafeRelativeEntryPath(entryPath)) return std::nullopt;
    std::string path = GameFileUrl(*below, entryPath);
    if (!IsMirrorPath(path)) return std::nullopt;
    return path;
}

PlacementPlan PlanPlacement(const std::vector<BuildOutcome>& builds, bool anyFailed, bool interrupted) {
    PlacementPlan plan;
    if (interrupted) return plan;
    bool all = true;
    for (const BuildOutcome& build : builds) {
        if (build.filesComplete) plan.checklists.push_back(build.checklist);
        else all = false;
    }
    plan.finish = all && !anyFailed;
    return plan;
}

int MirrorExitStatus(const MirrorSummary& s) {
    if (s.interrupted) return check::ExitInterrupted;
    return s.failed || s.skipped || s.toFetch || s.unknownSizes || s.chunksToFetch ? check::ExitDifferences : check::ExitMatches;
}

const char* MirrorEventName(MirrorEventKind kind) {
    switch (kind) {
    case MirrorEventKind::Fetched: return "fetched";
    case MirrorEventKind::Kept: return "kept";
    case MirrorEventKind::WouldFetch: return "would-fetch";
    case MirrorEventKind::Removed: return "removed";
    case MirrorEventKind::WouldRemove: return "would-remove";
    case MirrorEventKind::Failed: return "failed";
    }
    return "?";
}

}  // namespace orv::mirror
