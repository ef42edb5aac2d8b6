// Play: the only path from the main window to a running game. The nickname and clan tag are
// checked, the player's choices are saved into the settings file, the emulator profile and the
// game's nickname line, and the selected game's loader is started from the game folder through the
// shell; then the launcher closes. Also the loader location that the connect-link start shares.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "launcher/base/codepage.h"

namespace orv {

// The nickname box's initial text; Play refuses it as it stands (letter case included).
inline constexpr const char* DefaultNickname = "You name";

// Whether a catalogue "run" value names a file inside the game folder when appended to it: one
// leading "\", then names, no "..", drive letter, ":", network path, device name, control or
// wildcard character, and not a folder. A catalogue from a compromised server could otherwise
// have the launcher start any program on the machine.
bool IsSafeLoaderPath(std::string_view run);

// The loader of catalogue game `game` (1-based; a game that is not listed gives the default).
struct LoaderLocation {
    std::string run;                  // the catalogue's value, UTF-8
    std::optional<std::string> path;  // GameFolder followed by it; nothing when it is not safe
};
// Reads the local catalogue (a missing one gives the default). Raises EOSError when it cannot be read.
LoaderLocation CatalogueLoader(int game, const AnsiCodec& codec);

// The platform's part of Play.
struct PlayActions {
    // Hands the loader to the shell ("open", normal show command, no owner) without waiting;
    // raises EOSError when the shell refuses.
    std::function<void(const std::string& loaderPath)> startLoader;
    // Closes the main window, which ends the launcher.
    std::function<void()> closeMainWindow;
};

// Where the keyboard focus goes after Play.
enum class PlayFocus { Unchanged, Nickname, ClanTag };

enum class PlayOutcome {
    Refused,  // a message was shown; nothing was saved or started
    Failed,   // an error was shown in the application's error box; the game was not started
    Started,  // the loader was started and the window closed
};

struct PlayResult {
    PlayOutcome outcome = PlayOutcome::Refused;
    PlayFocus focus = PlayFocus::Unchanged;
};

// The refusal message for the player's values (UTF-8, lengths in bytes, blanks counted), or
// nothing when Play may go on, with the control to focus.
struct PlayRefusal {
    std::string message;
    PlayFocus focus = PlayFocus::Unchanged;
};
std::optional<PlayRefusal> CheckPlayerValues(std::string_view nickname, std::string_view clanTag);

// Image_Button_PlayClick. `selectedGame` is the game list's selected entry (0-based, -1 for none).
// Refusals are shown as plain messages; an error (a file that cannot be written, a loader the shell
// refuses) is shown in the application's error box and ends Play there, the window staying open.
PlayResult Play(int selectedGame, const PlayActions& actions, const AnsiCodec& codec);

// The edit boxes' change handlers: the whole text (UTF-8), untrimmed and unlimited.
void EditNicknameChange(const std::string& text);
void EditClanTagChange(const std::string& text);

}  // namespace orv
