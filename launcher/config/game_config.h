// The nickname line of the game's own config file, "cstrike\cfg\config.cfg" under the game folder.
// The game keeps the player's name there as a line of the key name, a blank and the value in double
// quotes; the launcher reads it at start-up and writes it back at Play, so that the game and the
// launcher agree. Only the nickname line is touched; every other line keeps its bytes.
//
// Only a build for the game whose code is "cstrike" (in any letter case) has such a line:
// ReadConfigNickname and WriteConfigNickname check that themselves, so callers need not.
// WriteConfigValue is the plain file operation and does not.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace orv {

// The key of the nickname line.
inline constexpr const char* ConfigNicknameKey = "name";

// True when GameCode in lower case is "cstrike"; the overload is for any game code.
bool UsesGameConfigNickname();
bool UsesGameConfigNickname(std::string_view gameCode);

// GameFolder + "\cstrike\cfg\config.cfg"; the folder is "cstrike" whatever the game code.
std::string GameConfigPath();

// The nickname that a config file's bytes hold, or nothing without a usable line. Every line whose
// first four characters are "name" (this letter case, so "namecolor" counts too) and that still has
// five characters once its last one (the closing quote) is dropped gives the text after its first
// double quote at character 5 or later, leading blanks removed, nothing removed at the end and no
// length limit; the file's last such line decides. Comments are not parsed.
std::optional<std::string> ConfigNicknameFromBytes(std::string_view bytes);

// Sets LauncherConfig.GamePlayerName from the config file's nickname line. Does nothing when the
// build does not use the line, the file is missing or it has no usable line. Raises EOSError when
// the existing file cannot be read.
void ReadConfigNickname();

// The config file's bytes with the line for `key` set to `value`: every line longer than the prefix
// key + blank + quote that begins with it (letter case as written) becomes prefix + value + quote,
// or the line is added at the end when none does. The value is trimmed and cut to 255 bytes like
// the launcher's INI texts, and a CR or LF in it (or in the key) becomes a blank, so nothing a
// player types can add a line to the game's config. A double quote inside the value stays as typed.
// The result has no byte-order mark and every line ends with CR LF; other lines keep their bytes.
std::string ConfigWithValue(std::string_view bytes, std::string_view key, std::string_view value);

// Sets the line for `key` in the config file at `path` (ConfigWithValue), in one rewrite that never
// leaves the file half written. A missing file is not created. Raises EOSError when the file cannot
// be read or written; it is then unchanged.
void WriteConfigValue(const std::string& key, const std::string& value, const std::string& path);

// Play's write of the nickname: WriteConfigValue("name", GamePlayerName, GameConfigPath()) when the
// build uses the line, nothing otherwise.
void WriteConfigNickname();

}  // namespace orv
