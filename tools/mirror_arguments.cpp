// The command line of "orvanta-tool mirror".
#include <set>

#include "launcher/net/server_paths.h"
#include "tools/mirror.h"
#include "tools/option_words.h"

namespace orv::mirror {

const char* const MirrorUsage =
    "  --server URL            the update server's base address to copy\n"
    "  --to DIR                the mirror folder (made when missing)\n"
    "  --server-base URL       the address the catalogue was published for (default: --server)\n"
    "  --game-code CODE        the game's folder on the server (default: the build's game code)\n"
    "  --game-name TEXT        only this game of the catalogue (default: every game)\n"
    "  --game-number G         or its number\n"
    "  --build-name TEXT       only this build of that game (default: every build)\n"
    "  --build-number B        or its number\n"
    "  --codepage 1251|1252|866  the code page of the checklists and the catalogue's texts (1251)\n"
    "  --jobs N                files fetched at once, up to 64 (default: 4)\n"
    "  --limit-rate RATE       the most bytes a second over all downloads: 500K, 2M (default: no cap)\n"
    "  --receive-timeout S     give a download try up after S seconds without data, up to 3600 (30)\n"
    "  --public-key HEX|FILE   the publisher key every statement must be signed with; overrides the\n"
    "                          build's own key\n"
    "  --dry-run               say what a run would fetch and remove; write nothing in DIR\n"
    "  --json                  one JSON object per line: each file fetched, kept, removed or failed,\n"
    "                          then the summary\n"
    "  exit status: 0 complete, 1 some files failed or builds were skipped (or, dry, something would\n"
    "  change), 2 error, 130 interrupted\n";

std::optional<std::string> ParseMirrorArguments(const std::vector<std::string>& args, MirrorOptions& o) {
    static const std::set<std::string> flags = {"--dry-run", "--json"};
    static const std::set<std::string> valued = {
        "--server",     "--to",          "--server-base", "--game-code",  "--game-name",       "--game-number",
        "--build-name", "--build-number", "--codepage",   "--jobs",       "--limit-rate",      "--receive-timeout",
        "--public-key"};
    OptionWords words;
    if (std::optional<std::string> wrong = words.Read(args, flags, valued)) return wrong;
    const auto take = [&](const char* name, std::string& field) { return words.Take(name, field); };
    if (!take("--server", o.server)) return "missing --server URL";
    if (!take("--to", o.to) || o.to.empty()) return "missing --to DIR";
    take("--game-code", o.gameCode);
    take("--game-name", o.gameName);
    take("--build-name", o.buildName);
    words.TakeNumber("--game-number", o.gameNumber);
    words.TakeNumber("--build-number", o.buildNumber);
    words.TakeNumber("--jobs", o.jobs, MostThreads);
    if (std::optional<std::string> wrong =
            TakeTransferOptions(words, {o.receiveTimeLimitMs, o.rateLimit, o.codePage, o.publicKey}))
        return wrong;
    o.dryRun = words.Has("--dry-run");
    o.json = words.Has("--json");

    if (!IsWebAddress(o.server)) return "--server takes an http:// or https:// address, not \"" + o.server + "\"";
    if (!o.server.ends_with("/")) o.server += "/";
    if (take("--server-base", o.serverBase)) {
        if (!IsWebAddress(o.serverBase)) return "--server-base takes an http:// or https:// address";
        if (!o.serverBase.ends_with("/")) o.serverBase += "/";
    } else {
        o.serverBase = o.server;
    }
    if (o.gameCode.empty() || o.gameCode.find_first_of("/\\") != std::string::npos || !IsMirrorPath(o.gameCode))
        return "--game-code takes a folder name";
    if (!o.gameName.empty() && o.gameNumber != 0) return "give --game-name or --game-number, not both";
    if (!o.buildName.empty() && o.buildNumber != 0) return "give --build-name or --build-number, not both";
    if ((!o.buildName.empty() || o.buildNumber) && o.gameName.empty() && !o.gameNumber)
        return "a build is chosen within a game: give --game-name or --game-number too";
    while (o.to.size() > 1 && (o.to.back() == '/' || o.to.back() == '\\')) o.to.pop_back();
    return std::nullopt;
}

}  // namespace orv::mirror
