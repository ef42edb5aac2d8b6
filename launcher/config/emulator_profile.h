// The emulator loader's profile "rev.ini" in the game folder. The loader takes the player's identity
// and the game's command line from it; the launcher writes its seven keys before every start and,
// on a first run, takes the player's values over from it. Every other key belongs to the loader and
// keeps its bytes.
//
// Errors are not handled here: a file the platform refuses to read or write raises EOSError with
// the platform's text, and the operation that called (Play, the end of a check run, start-up) ends
// with the application's error box. A refused write leaves the file as it was.
#pragma once

#include <string>

namespace orv {

namespace emulator_keys {
inline constexpr const char* EmulatorSection = "Emulator";
inline constexpr const char* SteamClientSection = "steamclient";
inline constexpr const char* LoaderSection = "Loader";
inline constexpr const char* Language = "Language";
inline constexpr const char* PlayerName = "PlayerName";
inline constexpr const char* ClanTag = "ClanTag";
inline constexpr const char* ProcName = "ProcName";
inline constexpr const char* UseAvatar = "Use_avatar";
inline constexpr const char* RankLevel = "RankLevel";
inline constexpr const char* PrivatRank = "PrivatRank";
}  // namespace emulator_keys

// GameFolder + "\" + "rev.ini".
std::string EmulatorProfilePath();

// The loader's plain command line: GameCommandPrefix, a blank and the player's run options
// (LauncherConfig.GameProcName), as they stand.
std::string EmulatorProcNameLine();

// The form the loader expects for a rank: the digit 0 and the decimal number (05, 012, 018).
std::string EmulatorRankText(int rank);

// Takes the player's values over from the profile into LauncherConfig: language, nickname, clan tag,
// avatar switch and ranks, with the settings' defaults for missing keys; the run options become
// "-console -novid" (the profile's are not taken over). A profile with a UTF-8 byte-order mark is
// first rewritten without it. A missing file gives the defaults and is not created. LauncherConfig
// changes only once the whole file has been read.
void LoadEmulatorProfile();

// Writes the seven keys from LauncherConfig, ProcName being the plain command line
// (EmulatorProcNameLine), in one rewrite that also drops a byte-order mark and ends every line with
// CR LF. Creates the file when it is missing.
void SaveEmulatorProfile();

// Writes "Loader"/"ProcName" alone, exactly as given (the connect-link start composes its own line
// with the server address); nothing else of the file changes. A CR or LF in the line becomes a
// blank, so an address taken from a web link cannot add lines to the profile. Creates the file when
// it is missing.
void WriteEmulatorProcName(const std::string& commandLine);

// Puts the plain command line back into "Loader"/"ProcName" (every normal start), with the same
// trimming and 255-byte cut that SaveEmulatorProfile applies, so that a connect address never
// outlives the start it was written for.
void ResetEmulatorProcName();

}  // namespace orv
