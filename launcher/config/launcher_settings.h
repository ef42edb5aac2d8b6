// The launcher settings file in the game folder and its in-memory record, LauncherConfig, plus the
// value conversions that the launcher's INI files share (the emulator profile uses them too).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace orv {

// The player's choices between runs. Text fields are UTF-8 bytes; before loading every text is
// empty and every number 0.
struct LauncherSettings {
    std::string GameLanguage;
    std::string GamePlayerName;
    std::string GameClanTag;
    std::string GameProcName;    // the game's run options
    std::string GameUseAvatar;   // "True" or "False", carried to the emulator profile as it is
    int GameRankLevel = 0;
    int GamePrivatRank = 0;
    bool GlobalShowNewVersionNotification = false;
    int GameNamePosition = 0;     // 1-based index into the catalogue's games
    int GameVersionPosition = 0;  // 1-based index into the selected game's builds
    // The highest version of a signed catalogue this folder has taken; 0 until a launcher built
    // with a publisher key takes one. A catalogue signed with a lower version is a rollback.
    uint64_t CatalogueVersion = 0;
    // The cap on the launcher's downloads, as the player or an operator wrote it (RateFromKBps reads
    // it); kept as text so that a save writes back exactly what came, and nothing when the file has
    // no such key, so that a save adds none.
    std::optional<std::string> DownloadLimitKBps = std::nullopt;
};

// The one process-wide record; it belongs to the GUI thread.
extern LauncherSettings LauncherConfig;

namespace settings_keys {
inline constexpr const char* GameSection = "GameSettings";
inline constexpr const char* LauncherSection = "LauncherSettings";
inline constexpr const char* BaseVersion = "BaseVersion";
inline constexpr const char* BuildVersion = "BuildVersion";
inline constexpr const char* CatalogueVersion = "CatalogueVersion";
inline constexpr const char* DownloadLimitKBps = "DownloadLimitKBps";
// The installed game version of one catalogue game is kept under this section.
inline std::string ClientVersionSection(const std::string& appName) { return appName + "ClientVersion"; }
}  // namespace settings_keys

// The player's values before any file gives them. The emulator profile starts from the same ones,
// so that a first run without either file starts alike.
namespace player_defaults {
inline constexpr const char* Language = "Russian";
inline constexpr const char* ClanTag = "vtl";
inline constexpr const char* ProcName = "-console -novid";
inline constexpr const char* UseAvatar = "True";
inline constexpr int RankLevel = 18;
inline constexpr int PrivatRank = 40;
}  // namespace player_defaults

// Values loaded from the launcher's INI files are at most this long.
inline constexpr size_t IniTextMaxBytes = 255;

// The text of a value read from an INI file: characters up to U+0020 removed at both ends, then cut
// to its first 255 bytes, even inside a multi-byte character.
std::string TextFromIni(std::string_view value);
// The bytes to write for a text: the same trimming and cut.
std::string TextToIni(std::string_view text);
// A decimal or "0x" hexadecimal integer with an optional sign; `fallback` for anything else
// (including values outside the int range).
int IntFromIni(std::string_view value, int fallback);
// True for any non-zero integer; `fallback` when the value is not an integer.
bool BoolFromIni(std::string_view value, bool fallback);
// A decimal version of 1 to 2^63-1; 0 for anything else.
uint64_t VersionFromIni(std::string_view value);

// The user name of the calling thread as the platform gives it; "You Name" when it cannot.
std::string DefaultPlayerName();

// True when the file starts with the UTF-8 byte-order mark. The file must exist (EOSError else).
bool HasUtf8Bom(const std::string& path);

// GameFolder + "\" + SettingsFileName.
std::string LauncherSettingsPath();

// Fills LauncherConfig from the settings file; a missing file gives the defaults and is not created.
// A failure while reading is shown as the settings error box; fields read before it keep their new
// values and loading ends normally.
void LoadLauncherSettings();
// Writes all ten fields, CatalogueVersion once it is not 0 and DownloadLimitKBps when it was loaded. When the file cannot be written,
// raises Error "Unable to write to <path>" and leaves the file as it was.
void SaveLauncherSettings();
// Writes one text value (through TextToIni). Raises Error "Unable to write to <path>".
void WriteLauncherSetting(const std::string& section, const std::string& key, const std::string& value);
// Reads one text value (through TextFromIni); `fallback` when the file, section or key is missing.
// Raises EOSError when the existing file cannot be read.
std::string ReadLauncherSetting(const std::string& section, const std::string& key, const std::string& fallback);

}  // namespace orv
