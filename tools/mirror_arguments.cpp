// The command line of "orvanta-tool mirror".
#include <map>
#include <set>

#include "launcher/config/launcher_identity.h"
#include "launcher/integrity/statement.h"
#include "launcher/net/rate_limit.h"
#include "launcher/net/server_paths.h"
#include "tools/check_trust.h"
#include "tools/mirror.h"
#include "tools/positive_number.h"

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

namespace {

constexpr int kMostReceiveSeconds = 3600;

}  // namespace

std::optional<std::string> ParseMirrorArguments(const std::vector<std::string>& args, MirrorOptions& o) {
    static const std::set<std::string> flags = {"--dry-run", "--json"};
    static const std::set<std::string> valued = {
        "--server",     "--to",          "--server-base", "--game-code",  "--game-name",       "--game-number",
        "--build-name", "--build-number", "--codepage",   "--jobs",       "--limit-rate",      "--receive-timeout",
        "--public-key"};
    std::map<std::string, std::string> given;
    std::set<std::string> set;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i], value;
        if (!name.starts_with("--")) return "unexpected argument \"" + name + "\"";
        const size_t equals = name.find('=');
        if (equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        }
        if (flags.count(name)) {
            if (equals != std::string::npos) return name + " takes no value";
            if (!set.insert(name).second) return name + " is given twice";
            continue;
        }
        if (!valued.count(name)) return "unknown option " + name;
        if (equals == std::string::npos) {
            if (i + 1 >= args.size()) return name + " needs a value";
            value = args[++i];
        }
        if (!given.emplace(name, value).second) return name + " is given twice";
    }
    const auto take = [&](const char* name, std::string& field) {
        const auto it = given.find(name);
        if (it == given.end()) return false;
        field = it->second;
        return true;
    };
    std::optional<std::string> problem;
    const auto takeNumber = [&](const char* name, auto& field, int most = 0) {
        std::string value;
        if (!take(name, value)) return;
        int number = 0;
        if (std::optional<std::string> wrong = CountOptionProblem(name, value, number, most))
            problem = std::move(wrong);
        else
            field = static_cast<std::remove_reference_t<decltype(field)>>(number);
    };
    if (!take("--server", o.server)) return "missing --server URL";
    if (!take("--to", o.to) || o.to.empty()) return "missing --to DIR";
    take("--game-code", o.gameCode);
    take("--game-name", o.gameName);
    take("--build-name", o.buildName);
    takeNumber("--game-number", o.gameNumber);
    takeNumber("--build-number", o.buildNumber);
    takeNumber("--jobs", o.jobs, MostThreads);
    int receiveSeconds = 0;
    takeNumber("--receive-timeout", receiveSeconds, kMostReceiveSeconds);
    if (problem) return problem;
    if (receiveSeconds) o.receiveTimeLimitMs = static_cast<uint32_t>(receiveSeconds) * 1000;
    std::string text;
    if (take("--limit-rate", text)) {
        const std::optional<uint64_t> rate = ParseRateText(text);
        if (!rate) return "--limit-rate takes bytes a second with an optional K, M or G, as 500K or 2M, not \"" + text + "\"";
        o.rateLimit = *rate;
    }
    if (take("--codepage", text)) {
        int number = 0;
        const std::optional<CodePage> page = ParsePositive(text, number) ? CodePageFromNumber(number) : std::nullopt;
        if (!page) return "--codepage takes 1251, 1252 or 866, not \"" + text + "\"";
        o.codePage = *page;
    }
    if (take("--public-key", text)) {
        o.publicKey = check::PublicKeyArgument(text);
        if (!o.publicKey) return "--public-key takes 128 hex digits or a file holding them, not \"" + text + "\"";
    } else if (*UpdatePublicKey) {
        o.publicKey = PublisherKeyFromHex(UpdatePublicKey);
        if (!o.publicKey) return "this build's publisher key is not 128 hex digits: give --public-key";
    }
    o.dryRun = set.count("--dry-run") > 0;
    o.json = set.count("--json") > 0;

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
