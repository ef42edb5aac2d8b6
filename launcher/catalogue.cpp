#include "launcher/catalogue.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "launcher/base/errors.h"
#include "launcher/config/launcher_settings.h"

namespace orv {
namespace {

constexpr const char* kMainSection = "osn";

std::string Numbered(const char* prefix, int number) { return prefix + std::to_string(number); }

std::string_view TrimControls(std::string_view text) {
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.remove_suffix(1);
    return text;
}

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return out;
}

struct PendingValue {
    std::string section;
    std::string key;
    std::string value;
};

// Values go in only when every one of them reads back as written, so that a refused value leaves
// the catalogue untouched rather than half updated.
void SetAll(IniDocument& document, const std::vector<PendingValue>& values) {
    for (const PendingValue& v : values) {
        IniDocument probe;
        probe.Set(v.section, v.key, v.value);
        if (probe.Find(v.section, v.key) != v.value)
            throw Error(
                "The value \"" + v.value + "\" of [" + v.section + "] " + v.key +
                " cannot be stored in inf.ini as it is (line breaks, surrounding blanks or quotes, or too long)");
    }
    // A value that is already there keeps its line as it is, blanks around "=" included.
    for (const PendingValue& v : values)
        if (document.Find(v.section, v.key) != v.value) document.Set(v.section, v.key, v.value);
}

}  // namespace

std::string CatalogueText::Decoded(CodePage page) const { return stored ? AnsiToUtf8(bytes, page).text : bytes; }

std::string CatalogueText::Decoded(const std::function<std::string(std::string_view)>& toUtf8) const {
    return stored && toUtf8 ? toUtf8(bytes) : bytes;
}

Catalogue Catalogue::Load(const std::string& path) {
    Catalogue catalogue;
    catalogue.document_ = LoadIniFile(path);
    return catalogue;
}

void Catalogue::Save(const std::string& path) const { SaveIniFile(path, document_); }

std::string Catalogue::GameSection(int game) { return Numbered("naz", game); }

std::string Catalogue::ServerVersionSection(std::string_view appName) { return std::string(appName) + "serverversion"; }

CatalogueText Catalogue::Text(std::string_view section, std::string_view key, const char* fallback) const {
    if (std::optional<std::string> value = document_.Find(section, key)) return {std::move(*value), true};
    return {fallback, false};
}

CatalogueText Catalogue::TrimmedText(std::string_view section, std::string_view key, std::string_view fallback) const {
    if (std::optional<std::string> value = document_.Find(section, key))
        return {std::string(TrimControls(*value)), true};
    return {std::string(fallback), false};
}

CatalogueText Catalogue::OfferedLauncherVersion(std::string_view current) const {
    if (std::optional<std::string> value = document_.Find(kMainSection, "ver")) return {std::move(*value), true};
    return {std::string(current), false};
}

int Catalogue::GameCount() const { return IntFromIni(document_.Get(kMainSection, "kolnaz", "0"), 0); }

CatalogueText Catalogue::GameName(int game) const { return Text(GameSection(game), "naz", catalogue_defaults::Name); }

CatalogueText Catalogue::NewsAddress(int game) const {
    return Text(GameSection(game), "adr", catalogue_defaults::NewsAddress);
}

int Catalogue::BuildCount(int game) const { return IntFromIni(document_.Get(GameSection(game), "kolver", "0"), 0); }

CatalogueText Catalogue::BuildName(int game, int build) const {
    return Text(GameSection(game), Numbered("ver", build), catalogue_defaults::Name);
}

CatalogueText Catalogue::ChecklistName(int game, int build) const {
    return Text(GameSection(game), Numbered("nazcek", build), catalogue_defaults::Unset);
}

CatalogueText Catalogue::FileCountText(int game, int build) const {
    return Text(GameSection(game), Numbered("kolf", build), catalogue_defaults::FileCount);
}

CatalogueText Catalogue::DownloadAddress(int game, int build) const {
    return Text(GameSection(game), Numbered("adrskach", build), catalogue_defaults::Unset);
}

CatalogueText Catalogue::LoaderPath(int game) const {
    return Text(GameSection(game), "run", catalogue_defaults::Loader);
}

CatalogueText Catalogue::AppName(int game, std::string_view gameCode) const {
    return TrimmedText(GameSection(game), "appname", LowerAscii(gameCode));
}

CatalogueText Catalogue::ServerBaseVersion(std::string_view appName) const {
    return TrimmedText(ServerVersionSection(appName), "baseversion", catalogue_defaults::Version);
}

CatalogueText Catalogue::ServerBuildVersion(std::string_view appName) const {
    return TrimmedText(ServerVersionSection(appName), "builserverdversion", catalogue_defaults::Version);
}

bool Catalogue::UseSteamCmd(std::string_view appName) const {
    return BoolFromIni(document_.Get(ServerVersionSection(appName), "usesteamcmd", "0"), false);
}

int Catalogue::StoredCount(std::string_view section, std::string_view key) const {
    const std::optional<std::string> value = document_.Find(section, key);
    if (!value) return 0;
    const int count = IntFromIni(*value, -1);
    if (count < 0)
        throw Error("[" + std::string(section) + "] " + std::string(key) + " of inf.ini is \"" + *value +
                    "\", not a count: fix the catalogue before publishing into it");
    return count;
}

namespace {

// The number after a stored count, which must still be an int.
int NextNumber(int64_t next, std::string_view what) {
    if (next > std::numeric_limits<int>::max())
        throw Error("The catalogue counts " + std::to_string(next - 1) + " " + std::string(what) +
                    ": there is no number left for another; fix the catalogue before publishing into it");
    return static_cast<int>(next);
}

}  // namespace

CataloguePlace Catalogue::PutBuild(const CatalogueBuild& build, std::string_view launcherVersion) {
    CataloguePlace place;
    const int games = StoredCount(kMainSection, "kolnaz");
    // No section or key lies beyond the document's line count, so the name searches stop there: a
    // count of millions in a damaged catalogue must not turn each lookup into a walk of millions.
    const std::string& bytes = Bytes();
    const int lines = static_cast<int>(std::min<size_t>(std::count(bytes.begin(), bytes.end(), '\n') + 1, INT32_MAX));
    // A damaged count may be the largest int: then there is no next number to give.
    const int64_t nextGame = int64_t{games} + 1;
    if (build.gameNumber < 0 || build.gameNumber > nextGame)
        throw Error("Game number " + std::to_string(build.gameNumber) + " is beyond the catalogue's " +
                    std::to_string(games) + " games and the next free number");
    place.game = build.gameNumber;
    if (place.game == 0) {
        if (build.gameName.empty()) throw Error("A game is named by its name or its number");
        for (int g = 1; g <= std::min(games, lines) && place.game == 0; ++g)
            if (document_.Find(GameSection(g), "naz") == build.gameName) place.game = g;
        if (place.game == 0) place.game = NextNumber(nextGame, "games");
    }
    place.newGame = place.game > games;
    if (place.newGame && build.gameName.empty()) throw Error("A new game needs a name");
    const std::string section = GameSection(place.game);

    const int builds = place.newGame ? 0 : StoredCount(section, "kolver");
    const int64_t nextBuild = int64_t{builds} + 1;
    if (build.buildNumber < 0 || build.buildNumber > nextBuild)
        throw Error("Build number " + std::to_string(build.buildNumber) + " is beyond the game's " +
                    std::to_string(builds) + " builds and the next free number");
    place.build = build.buildNumber;
    if (place.build == 0) {
        if (build.buildName.empty()) throw Error("A build is named by its name or its number");
        for (int b = 1; b <= std::min(builds, lines) && place.build == 0; ++b)
            if (document_.Find(section, Numbered("ver", b)) == build.buildName) place.build = b;
        if (place.build == 0) place.build = NextNumber(nextBuild, "builds");
    }
    place.newBuild = place.build > builds;
    if (place.newBuild && build.buildName.empty()) throw Error("A new build needs a name");

    std::vector<PendingValue> values;
    if (!document_.Find(kMainSection, "ver")) values.push_back({kMainSection, "ver", std::string(launcherVersion)});
    if (place.newGame) values.push_back({kMainSection, "kolnaz", std::to_string(place.game)});
    if (!build.gameName.empty()) values.push_back({section, "naz", build.gameName});
    if (place.newBuild) values.push_back({section, "kolver", std::to_string(place.build)});
    if (!build.buildName.empty()) values.push_back({section, Numbered("ver", place.build), build.buildName});
    values.push_back({section, Numbered("nazcek", place.build), build.checklistName});
    values.push_back({section, Numbered("kolf", place.build), build.fileCount});
    values.push_back({section, Numbered("adrskach", place.build), build.downloadAddress});
    SetAll(document_, values);
    return place;
}

void Catalogue::SetAppName(int game, std::string_view appName) {
    SetAll(document_, {{GameSection(game), "appname", std::string(appName)}});
}

void Catalogue::SetServerVersion(std::string_view appName, std::optional<std::string> baseVersion,
                                 std::optional<std::string> buildVersion) {
    std::vector<PendingValue> values;
    const std::string section = ServerVersionSection(appName);
    if (baseVersion) values.push_back({section, "baseversion", *baseVersion});
    if (buildVersion) values.push_back({section, "builserverdversion", *buildVersion});
    SetAll(document_, values);
}

}  // namespace orv
