#include "launcher/config/game_config.h"

#include <vector>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/platform/files.h"

namespace orv {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kCrLf = "\r\n";
constexpr std::string_view kNickPrefix = "name";
// Character position 5, counted from 1; the first four are the ASCII "name", so it is byte 4.
constexpr size_t kQuoteSearchStart = 4;

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// The file's lines without their ends, split at CR LF, LF or a lone CR as the game's own editors may
// leave them, and without a byte-order mark, which is not part of the first line's text.
std::vector<std::string_view> SplitLines(std::string_view bytes) {
    if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) bytes.remove_prefix(kUtf8Bom.size());
    std::vector<std::string_view> lines;
    size_t i = 0;
    while (i < bytes.size()) {
        size_t j = i;
        while (j < bytes.size() && bytes[j] != '\r' && bytes[j] != '\n') ++j;
        lines.push_back(bytes.substr(i, j - i));
        if (j < bytes.size()) j += bytes[j] == '\r' && j + 1 < bytes.size() && bytes[j + 1] == '\n' ? 2 : 1;
        i = j;
    }
    return lines;
}

// Bytes in the UTF-8 sequence that `lead` starts, or 0 when it cannot start one.
size_t SequenceLength(unsigned char lead) {
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF) return 2;
    if (lead >= 0xE0 && lead <= 0xEF) return 3;
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    return 0;
}

// The text without its last character. A closing Cyrillic letter (a line whose quote is missing)
// goes whole rather than leaving half a letter; a byte that is no part of a well-formed sequence
// counts as a character of its own.
std::string_view DropLastCharacter(std::string_view text) {
    if (text.empty()) return text;
    size_t start = text.size() - 1;
    while (start > 0 && text.size() - start < 4 && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80) --start;
    if (SequenceLength(static_cast<unsigned char>(text[start])) == text.size() - start) return text.substr(0, start);
    return text.substr(0, text.size() - 1);
}

// A key or value written into the config must stay on its line.
std::string OnOneLine(std::string_view text) {
    std::string result(text);
    for (char& c : result)
        if (c == '\r' || c == '\n') c = ' ';
    return result;
}

}  // namespace

bool UsesGameConfigNickname(std::string_view gameCode) {
    constexpr std::string_view kCstrike = "cstrike";
    if (gameCode.size() != kCstrike.size()) return false;
    for (size_t i = 0; i < gameCode.size(); ++i)
        if (LowerAscii(gameCode[i]) != kCstrike[i]) return false;
    return true;
}

bool UsesGameConfigNickname() { return UsesGameConfigNickname(GameCode); }

std::string GameConfigPath() { return GameFolder + "\\cstrike\\cfg\\config.cfg"; }

std::optional<std::string> ConfigNicknameFromBytes(std::string_view bytes) {
    std::optional<std::string> nickname;
    for (const std::string_view line : SplitLines(bytes)) {
        if (line.substr(0, kNickPrefix.size()) != kNickPrefix) continue;
        const std::string_view body = DropLastCharacter(line);
        // Below five characters there is no room for a quote after the key.
        if (body.size() < kQuoteSearchStart + 1) continue;
        const size_t quote = body.find('"', kQuoteSearchStart);
        if (quote == std::string_view::npos) continue;
        std::string_view value = body.substr(quote + 1);
        while (!value.empty() && static_cast<unsigned char>(value.front()) <= 0x20) value.remove_prefix(1);
        nickname = std::string(value);
    }
    return nickname;
}

void ReadConfigNickname() {
    if (!UsesGameConfigNickname()) return;
    const std::string path = GameConfigPath();
    if (!FileExists(path)) return;
    if (std::optional<std::string> nickname = ConfigNicknameFromBytes(ReadFileBytes(path)))
        LauncherConfig.GamePlayerName = std::move(*nickname);
}

std::string ConfigWithValue(std::string_view bytes, std::string_view key, std::string_view value) {
    const std::string prefix = OnOneLine(key) + " \"";
    const std::string newLine = prefix + OnOneLine(TextToIni(value)) + "\"";
    std::string result;
    result.reserve(bytes.size() + newLine.size() + 16);
    bool replaced = false;
    for (const std::string_view line : SplitLines(bytes)) {
        if (line.size() > prefix.size() && line.substr(0, prefix.size()) == prefix) {
            result += newLine;
            replaced = true;
        } else {
            result += line;
        }
        result += kCrLf;
    }
    if (!replaced) {
        result += newLine;
        result += kCrLf;
    }
    return result;
}

void WriteConfigValue(const std::string& key, const std::string& value, const std::string& path) {
    // The game makes its config; a launcher that created one would leave a file holding only the name.
    if (!FileExists(path)) return;
    WriteFileReplacing(path, ConfigWithValue(ReadFileBytes(path), key, value));
}

void WriteConfigNickname() {
    if (!UsesGameConfigNickname()) return;
    WriteConfigValue(ConfigNicknameKey, LauncherConfig.GamePlayerName, GameConfigPath());
}

}  // namespace orv
