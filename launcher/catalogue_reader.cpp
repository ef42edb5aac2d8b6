#include "launcher/catalogue_reader.h"

#include <algorithm>
#include <utility>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/catalogue.h"
#include "launcher/config/ini_file.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/platform/files.h"

namespace orv {
namespace {

constexpr const char* kBlankPage = "about:blank";

int ListLength(int count) { return std::clamp(count, 0, MaxCatalogueListEntries); }

std::string NewsAddressFor(const std::string& newsUrl, int uiLanguage) {
    if (uiLanguage != UiRussian && newsUrl != kBlankPage) return newsUrl + "/en/";
    return newsUrl;
}

}  // namespace

std::string LocalCataloguePath() { return GameFolder + "\\inf.ini"; }

std::string PlaceholderCatalogueBytes(const AnsiCodec& codec) {
    IniDocument document;
    const auto put = [&](const char* section, const char* key, const std::string& utf8) {
        document.Set(section, key, codec.fromUtf8(utf8));
    };
    put("osn", "ver", LauncherVersion);
    put("osn", "kolnaz", "1");
    put("naz1", "naz", "Название программы");
    put("naz1", "adr", kBlankPage);
    put("naz1", "kolver", "1");
    put("naz1", "ver1", "Название версии");
    put("naz1", "nazcek1", "Название чек листа");
    put("naz1", "kolf1", "0");
    put("naz1", "adrskach1", kBlankPage);
    put("naz1", "run", "\\revLoader.exe");
    return document.Bytes();
}

bool EnsureLocalCatalogue(const AnsiCodec& codec) {
    const std::string path = LocalCataloguePath();
    if (FileExists(path)) return false;
    WriteFileReplacing(path, PlaceholderCatalogueBytes(codec));
    return true;
}

CatalogueReading ReadCatalogue(int gamePosition, int buildPosition, bool offline, int uiLanguage,
                               const AnsiCodec& codec) {
    EnsureLocalCatalogue(codec);
    const Catalogue catalogue = Catalogue::Load(LocalCataloguePath());

    CatalogueReading r;
    r.offline = offline;
    const int games = ListLength(catalogue.GameCount());
    if (gamePosition > games || gamePosition < 1) {
        gamePosition = 1;
        buildPosition = 1;
    }
    const int game = gamePosition;

    if (offline) {
        r.news.offlinePage = true;
    } else {
        r.newsUrl = catalogue.NewsAddress(game).Decoded(codec.toUtf8);
        r.news.address = NewsAddressFor(*r.newsUrl, uiLanguage);
    }

    r.gameNames.reserve(static_cast<size_t>(games));
    for (int g = 1; g <= games; ++g) r.gameNames.push_back(catalogue.GameName(g).Decoded(codec.toUtf8));

    const int builds = ListLength(catalogue.BuildCount(game));
    r.buildNames.reserve(static_cast<size_t>(builds));
    for (int b = 1; b <= builds; ++b) r.buildNames.push_back(catalogue.BuildName(game, b).Decoded(codec.toUtf8));

    // With no games (kolnaz 0) the position is still 1 and the build list still comes from "naz1";
    // only the game list has nothing to select.
    r.selectedGame = game - 1 < games ? game - 1 : -1;
    if (buildPosition > builds || buildPosition < 1) buildPosition = 1;
    r.selectedBuild = buildPosition - 1 < builds ? buildPosition - 1 : -1;
    r.gamePosition = gamePosition;
    r.buildPosition = buildPosition;

    // The server-version section is named in the catalogue's bytes; the client-version section of
    // the settings file (UTF-8) by the same name decoded.
    const CatalogueText appName = catalogue.AppName(game);
    r.appName = appName.Decoded(codec.toUtf8);
    r.serverBaseVersion = catalogue.ServerBaseVersion(appName.bytes).Decoded(codec.toUtf8);
    r.serverBuildVersion = catalogue.ServerBuildVersion(appName.bytes).Decoded(codec.toUtf8);
    r.useSteamCmd = catalogue.UseSteamCmd(appName.bytes);

    const std::string clientSection = settings_keys::ClientVersionSection(r.appName);
    r.localBaseVersion = ReadLauncherSetting(clientSection, settings_keys::BaseVersion, "0");
    r.localBuildVersion = ReadLauncherSetting(clientSection, settings_keys::BuildVersion, "0");
    return r;
}

CatalogueReading chtenie(int& ComboboxGameNamePosition, int& ComboboxGameVersionPosition, CatalogueView& view,
                         const AnsiCodec& codec) {
    CatalogueReading r =
        ReadCatalogue(ComboboxGameNamePosition, ComboboxGameVersionPosition, OfflineMode, UiLanguage, codec);

    ComboboxGameNamePosition = r.gamePosition;
    ComboboxGameVersionPosition = r.buildPosition;
    if (r.newsUrl) NewsUrl = *r.newsUrl;
    AppName = r.appName;
    ServerBaseVersion = r.serverBaseVersion;
    ServerBuildVersion = r.serverBuildVersion;
    UseSteamCmd = r.useSteamCmd;
    LocalBaseVersion = r.localBaseVersion;
    LocalBuildVersion = r.localBuildVersion;

    view.LoadNews(r.news);
    view.ShowGames(r.gameNames, r.selectedGame);
    view.ShowBuilds(r.buildNames, r.selectedBuild);
    if (r.offline)
        view.RestrictToOffline();
    else
        view.RunGameVersionCheck();
    return r;
}

bool CatalogueGamePicked(int pickedGame, CatalogueView& view, const AnsiCodec& codec) {
    LauncherConfig.GameNamePosition = pickedGame + 1;
    LauncherConfig.GameVersionPosition = 1;
    const CatalogueReading r =
        chtenie(LauncherConfig.GameNamePosition, LauncherConfig.GameVersionPosition, view, codec);
    return r.selectedGame == 0;
}

void CatalogueBuildPicked(int selectedGame, int pickedBuild, CatalogueView& view, const AnsiCodec& codec) {
    LauncherConfig.GameNamePosition = selectedGame + 1;
    LauncherConfig.GameVersionPosition = pickedBuild + 1;
    chtenie(LauncherConfig.GameNamePosition, LauncherConfig.GameVersionPosition, view, codec);
}

}  // namespace orv
