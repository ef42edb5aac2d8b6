// Reading the local catalogue for the main window (chtenie): the game and build lists with their
// selection, the news page to load, the controls an offline start restricts, and the values the
// rest of the launcher reads for the selected game (NewsUrl, AppName, the server's and the
// installed game versions, UseSteamCmd).
//
// The catalogue is 8-bit text in the system's ANSI code page. The reader leaves the conversion to
// its caller: the Windows build passes the system code page (system_codepage_win.h), tests and other
// platforms a fixed page.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "launcher/base/codepage.h"

namespace orv {

// GameFolder + "\inf.ini": the copy of the server's catalogue every reader uses.
std::string LocalCataloguePath();

// The catalogue written when there is no local copy: one game and one build with placeholder
// names, encoded with `codec`.
std::string PlaceholderCatalogueBytes(const AnsiCodec& codec);

// Writes the placeholder when the local catalogue is missing; true when it did. Raises EOSError
// when the file cannot be written.
bool EnsureLocalCatalogue(const AnsiCodec& codec);

// A list longer than this is cut: a count such as 2147483647 in a damaged or hostile catalogue
// would otherwise keep the window filling a drop-down list for hours.
inline constexpr int MaxCatalogueListEntries = 1000;

// What the news panel is to show.
struct NewsPageRequest {
    bool offlinePage = false;  // the built-in offline page of the interface language
    std::string address;       // otherwise: the address to navigate to (NewsUrl, "/en/" appended in English)
};

// Everything one reading of the catalogue gives.
struct CatalogueReading {
    // The positions after correction (1-based); the caller keeps them.
    int gamePosition = 1;
    int buildPosition = 1;

    // UTF-8 entries of the two lists and the selected entry of each (0-based, -1: none).
    std::vector<std::string> gameNames;
    int selectedGame = -1;
    std::vector<std::string> buildNames;
    int selectedBuild = -1;

    NewsPageRequest news;
    // Offline: both lists disabled, the check and server-browser buttons disabled and hidden, no
    // version check. Online: the game version check follows.
    bool offline = false;

    // The selected game's values (UTF-8). NewsUrl is left as it was in an offline reading.
    std::optional<std::string> newsUrl;
    std::string appName;
    std::string serverBaseVersion;
    std::string serverBuildVersion;
    bool useSteamCmd = false;
    std::string localBaseVersion;  // from the settings file
    std::string localBuildVersion;
};

// Reads the local catalogue (writing the placeholder first when it is missing) for the 1-based
// positions. A position outside the lists falls back to 1: a game position resets both, a build
// position only itself. Missing keys give their defaults; a count that is not a number is 0.
// Touches no process-wide value. Raises EOSError when a file cannot be read or written.
CatalogueReading ReadCatalogue(int gamePosition, int buildPosition, bool offline, int uiLanguage,
                               const AnsiCodec& codec);

// The main window's side of chtenie, called in this order.
class CatalogueView {
public:
    virtual ~CatalogueView() = default;
    // Make sure the browser exists, blank it, set its user agent, then show the request.
    virtual void LoadNews(const NewsPageRequest& request) = 0;
    // Refill the game list and select `selected` (-1: nothing).
    virtual void ShowGames(const std::vector<std::string>& names, int selected) = 0;
    // Refill the build list and select `selected` (-1: nothing).
    virtual void ShowBuilds(const std::vector<std::string>& names, int selected) = 0;
    // Offline only: disable both lists; disable and hide the check and server-browser buttons.
    virtual void RestrictToOffline() = 0;
    // Online only, last: the game version check (compares the installed version with the server's
    // and may ask the player to update).
    virtual void RunGameVersionCheck() = 0;
};

// chtenie: reads the catalogue for the two positions (LauncherConfig's GameNamePosition and
// GameVersionPosition at every call site), corrects them in place, sets NewsUrl (online only),
// AppName, ServerBaseVersion, ServerBuildVersion, UseSteamCmd, LocalBaseVersion and
// LocalBuildVersion, and drives the window. Reads OfflineMode and UiLanguage. On an error nothing
// is changed and the error is raised (EOSError). Returns what it read.
CatalogueReading chtenie(int& ComboboxGameNamePosition, int& ComboboxGameVersionPosition, CatalogueView& view,
             const AnsiCodec& codec);

// The player picked entry `pickedGame` of the game list: that game with its first build. Returns
// whether the nickname and clan-tag labels and boxes are to be shown (the first game is selected).
bool CatalogueGamePicked(int pickedGame, CatalogueView& view, const AnsiCodec& codec);

// The player picked entry `pickedBuild` of the build list while entry `selectedGame` (-1: none) of
// the game list was selected.
void CatalogueBuildPicked(int selectedGame, int pickedBuild, CatalogueView& view, const AnsiCodec& codec);

}  // namespace orv
