// The command line of "orvanta-tool check" and what its outcome means as an exit status.
#include <algorithm>
#include <charconv>
#include <set>

#include "launcher/net/server_paths.h"
#include "tools/check.h"
#include "tools/option_words.h"

namespace orv::check {

const char* const CheckUsage =
    "  --server URL            the update server's base address (a mirror's will do)\n"
    "  --server-root ROOT      or the folder a web server serves at that address\n"
    "  --game-dir DIR          the game folder to check\n"
    "  --repair                fetch and put in place every file that differs\n"
    "  --dry-run               say what a repair would fetch (files, compressed bytes); write nothing\n"
    "  --verify-server         with --server-root: check that every file of the build is there and\n"
    "                          unpacks to its listed size and CRC-32 (no game folder); with a key,\n"
    "                          also every statement and each file's SHA-256\n"
    "  --source-dir DIR        with --repair or --dry-run: take a file that differs from DIR, a folder\n"
    "                          holding the build, when its size and CRC-32 match; fetch the rest\n"
    "  --no-chunks             fetch every file that differs whole, even where the build has chunks\n"
    "  --json                  one JSON object per line: each file checked, bad, repaired or refused,\n"
    "                          then the summary\n"
    "  --game-name TEXT        the game in the catalogue (default: the first)\n"
    "  --game-number G         or its number\n"
    "  --build-name TEXT       the build of that game (default: the first)\n"
    "  --build-number B        or its number\n"
    "  --server-base URL       the address the catalogue was published for: download addresses below\n"
    "                          it are read from --server or --server-root (default: the build's server)\n"
    "  --game-code CODE        the game's folder on the server (default: the build's game code)\n"
    "  --codepage 1251|1252|866  the code page of the checklist and the catalogue's texts (1251)\n"
    "  --public-key HEX|FILE   the publisher key (128 hex digits, or a file holding them) every\n"
    "                          statement must be signed with; overrides the build's own key\n"
    "  --min-catalogue-version N  with a key: refuse a catalogue statement older than version N\n"
    "  --jobs N                files checked at once, up to 64 (default: one per core)\n"
    "  --connections N         files downloaded at once, up to 64 (default: 4)\n"
    "  --limit-rate RATE       the most bytes a second over all downloads, as curl spells it: 500K, 2M\n"
    "                          (K and M of 1024; default: no cap)\n"
    "  --receive-timeout S     give a download try up after S seconds without data, up to 3600 (30)\n"
    "  exit status: 0 matches, 1 differences remain (or would be fetched), 2 error, 130 interrupted\n";

namespace {

const std::set<std::string>& Flags() {
    static const std::set<std::string> flags = {"--repair", "--dry-run", "--verify-server", "--json", "--no-chunks"};
    return flags;
}

const std::set<std::string>& Valued() {
    static const std::set<std::string> valued = {
        "--server",      "--server-root",  "--game-dir",  "--game-name",   "--game-number", "--build-name",
        "--build-number", "--server-base", "--game-code", "--codepage",    "--jobs",        "--connections",
        "--public-key",  "--min-catalogue-version", "--limit-rate", "--receive-timeout",
        "--source-dir"};
    return valued;
}

}  // namespace

std::optional<std::string> ParseCheckArguments(const std::vector<std::string>& args, CheckOptions& o) {
    OptionWords words;
    if (std::optional<std::string> wrong = words.Read(args, Flags(), Valued())) return wrong;
    const auto take = [&](const char* name, std::string& field) { return words.Take(name, field); };
    take("--server", o.server);
    take("--server-root", o.serverRoot);
    take("--game-dir", o.gameDir);
    const bool sourceGiven = take("--source-dir", o.sourceDir);
    take("--game-name", o.gameName);
    take("--build-name", o.buildName);
    take("--game-code", o.gameCode);
    const bool baseGiven = take("--server-base", o.serverBase);
    words.TakeNumber("--game-number", o.gameNumber);
    words.TakeNumber("--build-number", o.buildNumber);
    words.TakeNumber("--jobs", o.jobs, MostThreads);
    words.TakeNumber("--connections", o.connections, MostThreads);
    if (std::optional<std::string> wrong =
            TakeTransferOptions(words, {o.receiveTimeLimitMs, o.rateLimit, o.codePage, o.publicKey}))
        return wrong;
    std::string text;
    if (take("--min-catalogue-version", text)) {
        const char* end = text.data() + text.size();
        const auto [ptr, ec] = std::from_chars(text.data(), end, o.minCatalogueVersion);
        if (ec != std::errc() || ptr != end || o.minCatalogueVersion == 0)
            return "--min-catalogue-version takes a version from 1 up, not \"" + text + "\"";
        if (!o.publicKey) return "--min-catalogue-version needs a publisher key: give --public-key";
    }
    o.repair = words.Has("--repair");
    o.dryRun = words.Has("--dry-run");
    o.verifyServer = words.Has("--verify-server");
    o.json = words.Has("--json");
    o.chunks = !words.Has("--no-chunks");

    if (words.Has("--server") == words.Has("--server-root"))
        return "give one of --server URL and --server-root ROOT";
    if (words.Has("--server")) {
        if (!IsWebAddress(o.server)) return "--server takes an http:// or https:// address, not \"" + o.server + "\"";
        if (!o.server.ends_with("/")) o.server += "/";
    }
    if (words.Has("--server-root") && o.serverRoot.empty()) return "--server-root is empty";
    if (baseGiven) {
        if (!IsWebAddress(o.serverBase)) return "--server-base takes an http:// or https:// address";
        if (!o.serverBase.ends_with("/")) o.serverBase += "/";
    }
    if (o.gameCode.empty() || o.gameCode.find_first_of("/\\") != std::string::npos)
        return "--game-code takes a folder name";
    if (!o.gameName.empty() && o.gameNumber != 0) return "give --game-name or --game-number, not both";
    if (!o.buildName.empty() && o.buildNumber != 0) return "give --build-name or --build-number, not both";
    if (o.verifyServer) {
        if (o.serverRoot.empty()) return "--verify-server checks a server folder: give --server-root";
        if (o.repair || o.dryRun) return "--verify-server does not repair: leave out --repair and --dry-run";
        if (words.Has("--game-dir")) return "--verify-server checks no game folder: leave out --game-dir";
    } else if (o.gameDir.empty()) {
        return "missing --game-dir";
    }
    if (sourceGiven) {
        if (o.verifyServer) return "--verify-server takes no --source-dir";
        if (!o.repair && !o.dryRun) return "--source-dir is for a repair: give --repair or --dry-run";
        if (o.sourceDir.empty()) return "--source-dir is empty";
        while (o.sourceDir.size() > 1 && (o.sourceDir.back() == '/' || o.sourceDir.back() == '\\')) o.sourceDir.pop_back();
    }
    // Without a trailing separator, as entry paths begin with one.
    while (o.gameDir.size() > 1 && (o.gameDir.back() == '/' || o.gameDir.back() == '\\')) o.gameDir.pop_back();
    return std::nullopt;
}

bool IsDownloadPathBelowBase(std::string_view path) {
    const auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    std::string decoded;
    for (size_t i = 0; i < path.size(); ++i) {
        if (path[i] == '%' && i + 2 < path.size() && hex(path[i + 1]) >= 0 && hex(path[i + 2]) >= 0) {
            decoded += static_cast<char>(hex(path[i + 1]) * 16 + hex(path[i + 2]));
            i += 2;
        } else {
            decoded += path[i];
        }
    }
    size_t start = 0;
    for (;;) {
        const size_t end = std::min(decoded.find_first_of("/\\", start), decoded.size());
        const std::string_view name = std::string_view(decoded).substr(start, end - start);
        // Windows drops a name's final dots and blanks, so a name of only those is no folder name.
        if (name.find_first_not_of(". ") == std::string_view::npos) return false;
        if (end == decoded.size()) return true;
        start = end + 1;
    }
}

int ExitStatus(const CheckSummary& s) {
    if (s.interrupted) return ExitInterrupted;
    const uint64_t remaining = s.bad > s.repaired ? s.bad - s.repaired : 0;
    return remaining + s.refused > 0 ? ExitDifferences : ExitMatches;
}

const char* EventName(EventKind kind) {
    switch (kind) {
    case EventKind::Checked: return "checked";
    case EventKind::Bad: return "bad";
    case EventKind::Repaired: return "repaired";
    case EventKind::RepairFailed: return "repair-failed";
    case EventKind::Refused: return "refused";
    case EventKind::WouldFetch: return "would-fetch";
    case EventKind::WouldCopy: return "would-copy";
    }
    return "?";
}

}  // namespace orv::check
