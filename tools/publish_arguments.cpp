// The command line of "orvanta-tool publish" and the summary it prints.
#include <charconv>
#include <cstdio>
#include <map>
#include <type_traits>

#include "tools/publish.h"
#include "tools/positive_number.h"
#include "launcher/integrity/chunking.h"

namespace orv::publish {

const char* const PublishUsage =
    "  --build-dir DIR         the build as it lies in a game folder\n"
    "  --server-root ROOT      the folder a web server serves at the server base\n"
    "  --checklist NAME        the build's checklist name: ROOT/<game code>/NAME.dim.lzma\n"
    "  --game-name TEXT        the game in the catalogue (found by name, or added)\n"
    "  --build-name TEXT       the build of that game (found by name, or added)\n"
    "  --download-path PATH    the folder below ROOT for the build's .lzma files, e.g. cstrike/v34\n"
    "  --download-url URL      the address the catalogue gives for it; derived from the other when\n"
    "                          it lies below the server base, so one of the two is enough\n"
    "  --server-base URL       the address ROOT is served at (default: the build's update server)\n"
    "  --game-code CODE        the game's folder below ROOT (default: the build's game code)\n"
    "  --codepage 1251|1252|866  the code page of the checklist and the catalogue's texts (1251)\n"
    "  --game-number G         update or add game G instead of finding it by name\n"
    "  --build-number B        update or add build B of the game instead of finding it by name\n"
    "  --appname NAME          the game's application name (its version sections' prefix)\n"
    "  --base-version X        the game's base version on the server\n"
    "  --build-version Y       the game's build version on the server\n"
    "  --keep-list replace|merge|leave  what becomes of the game's keep list (replace)\n"
    "  --jobs N                files compressed at once, up to 64 (default: up to 4)\n"
    "  --no-chunks             publish no file in chunks: no chunk index, nothing added to the\n"
    "                          chunk store (an earlier index of the checklist is removed)\n"
    "  --signing-key KEY.pem   PEM EC P-256 private key: also write the hash list and the signed\n"
    "                          statements of the checklist and the catalogue (native tool only);\n"
    "                          give it again for each further key, e.g. while keys change\n"
    "  --expires-days N        how long those signatures hold (default: 30)\n";

namespace {

// Takes the options that have no value out of the words, leaving the values of the others alone
// (a game name may read "--no-chunks").
std::optional<std::string> TakeSwitches(std::vector<std::string>& args, PublishOptions& o) {
    std::vector<std::string> rest;
    bool noChunks = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& word = args[i];
        if (word == "--no-chunks") {
            if (noChunks) return std::string("--no-chunks is given twice");
            noChunks = true;
            continue;
        }
        if (word.starts_with("--no-chunks=")) return std::string("--no-chunks takes no value");
        rest.push_back(word);
        if (word.starts_with("--") && word.find('=') == std::string::npos && i + 1 < args.size())
            rest.push_back(args[++i]);
    }
    if (noChunks) o.chunks = false;
    args = std::move(rest);
    return std::nullopt;
}

}  // namespace

std::optional<std::string> ParsePublishArguments(const std::vector<std::string>& words, PublishOptions& o) {
    std::vector<std::string> args = words;
    if (std::optional<std::string> problem = TakeSwitches(args, o)) return problem;
    if (std::optional<std::string> problem = TakeSigningArguments(args, o.signing)) return problem;
    std::map<std::string, std::string> given;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i], value;
        if (!name.starts_with("--")) return "unexpected argument \"" + name + "\"";
        if (const size_t equals = name.find('='); equals != std::string::npos) {
            value = name.substr(equals + 1);
            name.resize(equals);
        } else if (i + 1 < args.size()) {
            value = args[++i];
        } else {
            return name + " needs a value";
        }
        if (!given.emplace(name, value).second) return name + " is given twice";
    }

    std::optional<std::string> problem;
    auto take = [&](const char* name, std::string& field) {
        const auto it = given.find(name);
        if (it == given.end()) return false;
        field = it->second;
        given.erase(it);
        return true;
    };
    auto takeOptional = [&](const char* name, std::optional<std::string>& field) {
        std::string value;
        if (take(name, value)) field = value;
    };
    auto takeNumber = [&](const char* name, auto& field, int most = 0) {
        std::string value;
        if (!take(name, value)) return;
        int number = 0;
        if (std::optional<std::string> wrong = CountOptionProblem(name, value, number, most))
            problem = std::move(wrong);
        else
            field = static_cast<std::remove_reference_t<decltype(field)>>(number);
    };

    for (const char* required : {"--build-dir", "--server-root", "--checklist"})
        if (!given.count(required)) return std::string("missing ") + required;
    take("--build-dir", o.buildDir);
    take("--server-root", o.serverRoot);
    take("--checklist", o.checklistName);
    take("--game-name", o.gameName);
    take("--build-name", o.buildName);
    take("--download-path", o.downloadPath);
    take("--download-url", o.downloadUrl);
    take("--server-base", o.serverBase);
    take("--game-code", o.gameCode);
    takeNumber("--game-number", o.gameNumber);
    takeNumber("--build-number", o.buildNumber);
    takeNumber("--jobs", o.jobs, MostThreads);
    takeOptional("--appname", o.appName);
    takeOptional("--base-version", o.baseVersion);
    takeOptional("--build-version", o.buildVersion);
    std::string text;
    if (take("--codepage", text)) {
        int number = 0;
        const std::optional<CodePage> page = ParsePositive(text, number) ? CodePageFromNumber(number) : std::nullopt;
        if (!page) return "--codepage takes 1251, 1252 or 866, not \"" + text + "\"";
        o.codePage = *page;
    }
    if (take("--keep-list", text)) {
        if (text == "replace")
            o.keepList = KeepListMode::Replace;
        else if (text == "merge")
            o.keepList = KeepListMode::Merge;
        else if (text == "leave")
            o.keepList = KeepListMode::Leave;
        else
            return "--keep-list takes replace, merge or leave, not \"" + text + "\"";
    }
    if (problem) return problem;
    if (!given.empty()) return "unknown option " + given.begin()->first;
    if (o.gameName.empty() && o.gameNumber == 0) return "missing --game-name (or --game-number)";
    if (o.buildName.empty() && o.buildNumber == 0) return "missing --build-name (or --build-number)";
    if (o.downloadPath.empty() && o.downloadUrl.empty()) return "missing --download-path or --download-url";
    if (o.buildDir.empty() || o.serverRoot.empty() || o.checklistName.empty()) return "empty folder or checklist name";
    return std::nullopt;
}

namespace {

std::string ChunkLine(const PublishSummary& s, const PublishOptions& o) {
    const std::string index = o.checklistName + ".dim.chunks";
    if (!o.chunks || s.chunkedFiles == 0)
        return "chunked:    none (" +
               std::string(!o.chunks ? "--no-chunks"
                                     : "no file of " + std::to_string(kChunkedFileMinSize) + " bytes or more") +
               ")" + (s.chunkIndexRemoved ? ", the old " + index + " removed" : std::string());
    return "chunked:    " + std::to_string(s.chunkedFiles) + " files in " + std::to_string(s.chunks) + " chunks, " +
           index + " (" + (s.chunkIndexWritten ? "written" : "unchanged") + ")";
}

}  // namespace

std::vector<std::string> SummaryLines(const PublishSummary& s, const PublishOptions& o) {
    auto state = [](bool written, const char* yes) { return std::string(written ? yes : "unchanged"); };
    char seconds[32];
    std::snprintf(seconds, sizeof seconds, "%.1f s", s.seconds);
    std::vector<std::string> lines = {
        "files:      " + std::to_string(s.files) + " in " + std::to_string(s.folders) + " folders, " +
            std::to_string(s.bytes) + " bytes",
        "compressed: " + std::to_string(s.compressed) + " files, " + std::to_string(s.compressedBytes) + " -> " +
            std::to_string(s.packedBytes) + " bytes",
        "unchanged:  " + std::to_string(s.unchanged) + " files",
        "removed:    " + std::to_string(s.removed) + " files no longer in the build",
        "download:   " + s.downloadUrl,
        "checklist:  " + o.checklistName + " (" + state(s.checklistWritten, "written") + ")",
        "catalogue:  game " + std::to_string(s.place.game) + (s.place.newGame ? " (new)" : "") + ", build " +
            std::to_string(s.place.build) + (s.place.newBuild ? " (new)" : "") + " (" +
            state(s.catalogueWritten, "written") + ")",
        "keep list:  " +
            (o.keepList == KeepListMode::Leave ? std::string("left as it was") : state(s.keepListWritten, "written")),
        std::string("time:       ") + seconds,
    };
    // After "removed": what the run added to the server.
    std::vector<std::string> chunkLines = {ChunkLine(s, o)};
    if (o.chunks)
        chunkLines.push_back("chunk store: " + std::to_string(s.chunksWritten) + " chunks written, " +
                             std::to_string(s.chunksPresent) + " already in the store; the chunk store grew by " +
                             std::to_string(s.chunkStoreGrewBy) + " bytes");
    lines.insert(lines.begin() + 4, chunkLines.begin(), chunkLines.end());
    if (o.signing.Enabled())
        lines.insert(lines.end() - 1, "signed:     " + o.checklistName + ".dim.sig version " +
                                          std::to_string(s.checklistStatement) + ", inf.ini.sig version " +
                                          std::to_string(s.catalogueStatement) +
                                          (s.keepListStatement != 0 ? ", " + o.gameCode + "clean.json.sig version " +
                                                                          std::to_string(s.keepListStatement)
                                                                    : std::string()));
    return lines;
}

}  // namespace orv::publish
