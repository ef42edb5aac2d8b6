#include "launcher/config/launcher_settings.h"

#include <cstdint>
#include <exception>
#include <limits>
#include <optional>
#include <string>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/base/message_box.h"
#include "launcher/base/texts.h"
#include "launcher/config/ini_file.h"
#include "launcher/platform/files.h"

namespace orv {

LauncherSettings LauncherConfig;

namespace {

using namespace settings_keys;

constexpr bool kDefaultShowNewVersionNotification = true;
constexpr int kDefaultPosition = 1;

std::string_view TrimControls(std::string_view text) {
    // Every character up to U+0020 is a single byte in UTF-8, so trimming bytes is trimming characters.
    while (!text.empty() && static_cast<unsigned char>(text.front()) <= 0x20) text.remove_prefix(1);
    while (!text.empty() && static_cast<unsigned char>(text.back()) <= 0x20) text.remove_suffix(1);
    return text;
}

std::string TrimAndCut(std::string_view text) { return std::string(TrimControls(text).substr(0, IniTextMaxBytes)); }

[[noreturn]] void RaiseUnableToWrite(const std::string& path) {
    throw Error(FormatText(Tr(TextId::UnableToWrite), path));
}

// The file's other keys must survive a save, so a file that cannot even be read is not written over.
IniDocument LoadForWriting(const std::string& path) {
    try {
        return LoadIniFile(path);
    } catch (const std::exception&) {
        RaiseUnableToWrite(path);
    }
}

void StoreForWriting(const std::string& path, const IniDocument& document) {
    try {
        SaveIniFile(path, document);
    } catch (const std::exception&) {
        RaiseUnableToWrite(path);
    }
}

}  // namespace

std::string TextFromIni(std::string_view value) { return TrimAndCut(value); }

std::string TextToIni(std::string_view text) { return TrimAndCut(text); }

int IntFromIni(std::string_view value, int fallback) {
    value = TrimControls(value);
    bool negative = false;
    if (!value.empty() && (value.front() == '+' || value.front() == '-')) {
        negative = value.front() == '-';
        value.remove_prefix(1);
    }
    unsigned base = 10;
    if (value.size() >= 2 && value[0] == '0' && (value[1] == 'x' || value[1] == 'X')) {
        base = 16;
        value.remove_prefix(2);
    }
    if (value.empty()) return fallback;
    const int64_t limit = negative ? -static_cast<int64_t>(std::numeric_limits<int>::min())
                                   : static_cast<int64_t>(std::numeric_limits<int>::max());
    int64_t magnitude = 0;
    for (const char c : value) {
        unsigned digit;
        if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
        else if (base == 16 && c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
        else if (base == 16 && c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
        else return fallback;
        magnitude = magnitude * base + digit;
        if (magnitude > limit) return fallback;
    }
    return static_cast<int>(negative ? -magnitude : magnitude);
}

bool BoolFromIni(std::string_view value, bool fallback) { return IntFromIni(value, fallback ? 1 : 0) != 0; }

uint64_t VersionFromIni(std::string_view value) {
    value = TrimControls(value);
    constexpr uint64_t kLimit = static_cast<uint64_t>(std::numeric_limits<int64_t>::max());
    if (value.empty() || value.size() > 19) return 0;
    uint64_t version = 0;
    for (const char c : value) {
        if (c < '0' || c > '9') return 0;
        version = version * 10 + static_cast<uint64_t>(c - '0');
    }
    return version <= kLimit ? version : 0;
}

bool HasUtf8Bom(const std::string& path) {
    File file = File::OpenRead(path);
    unsigned char head[3] = {};
    size_t got = 0;
    while (got < sizeof head) {
        const size_t n = file.Read(head + got, sizeof head - got);
        if (n == 0) break;
        got += n;
    }
    return got == 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF;
}

std::string LauncherSettingsPath() { return GameFolder + "\\" + SettingsFileName; }

void LoadLauncherSettings() {
    bool failed = false;
    try {
        const std::string path = LauncherSettingsPath();
        IniDocument document;
        if (FileExists(path)) {
            if (HasUtf8Bom(path)) {
                // Tidying the file is not worth losing the player's values over: should the rewrite
                // be refused (a read-only file), the values are still read, the mark skipped.
                try {
                    RewriteIniFileNormalized(path);
                } catch (const std::exception&) {
                    failed = true;
                }
            }
            document = IniDocument(ReadFileBytes(path));
        }
        LauncherSettings& c = LauncherConfig;
        c.GameLanguage = TextFromIni(document.Get(GameSection, "GameLanguage", player_defaults::Language));
        const std::string userName = DefaultPlayerName();
        c.GamePlayerName = TextFromIni(document.Get(GameSection, "GamePlayerName", userName));
        c.GameClanTag = TextFromIni(document.Get(GameSection, "GameClanTag", player_defaults::ClanTag));
        c.GameProcName = TextFromIni(document.Get(GameSection, "GameProcName", player_defaults::ProcName));
        c.GameUseAvatar = TextFromIni(document.Get(GameSection, "GameUseAvatar", player_defaults::UseAvatar));
        c.GameRankLevel = IntFromIni(document.Get(GameSection, "GameRankLevel", ""), player_defaults::RankLevel);
        c.GamePrivatRank = IntFromIni(document.Get(GameSection, "GamePrivatRank", ""), player_defaults::PrivatRank);
        c.GlobalShowNewVersionNotification = BoolFromIni(
            document.Get(LauncherSection, "GlobalShowNewVersionNotification", ""), kDefaultShowNewVersionNotification);
        c.GameNamePosition = IntFromIni(document.Get(LauncherSection, "GameNamePosition", ""), kDefaultPosition);
        c.GameVersionPosition = IntFromIni(document.Get(LauncherSection, "GameVersionPosition", ""), kDefaultPosition);
        c.CatalogueVersion = VersionFromIni(document.Get(LauncherSection, CatalogueVersion, ""));
        const std::optional<std::string> limit = document.Find(LauncherSection, DownloadLimitKBps);
        c.DownloadLimitKBps = limit ? std::optional<std::string>(TextFromIni(*limit)) : std::nullopt;
    } catch (const std::exception&) {
        failed = true;
    }
    if (failed) ShowMessage(TextIn(TextId::SettingsError, UiRussian));
}

void SaveLauncherSettings() {
    const std::string path = LauncherSettingsPath();
    const LauncherSettings& c = LauncherConfig;
    // One rewrite for the ten keys: a refusal leaves the file as it was, never with half of them.
    IniDocument document = LoadForWriting(path);
    document.Set(GameSection, "GameLanguage", TextToIni(c.GameLanguage));
    document.Set(GameSection, "GamePlayerName", TextToIni(c.GamePlayerName));
    document.Set(GameSection, "GameClanTag", TextToIni(c.GameClanTag));
    document.Set(GameSection, "GameProcName", TextToIni(c.GameProcName));
    document.Set(GameSection, "GameUseAvatar", TextToIni(c.GameUseAvatar));
    document.Set(GameSection, "GameRankLevel", std::to_string(c.GameRankLevel));
    document.Set(GameSection, "GamePrivatRank", std::to_string(c.GamePrivatRank));
    document.Set(LauncherSection, "GlobalShowNewVersionNotification", c.GlobalShowNewVersionNotification ? "1" : "0");
    document.Set(LauncherSection, "GameNamePosition", std::to_string(c.GameNamePosition));
    document.Set(LauncherSection, "GameVersionPosition", std::to_string(c.GameVersionPosition));
    // Only a launcher with a publisher key ever raises it; one without leaves the file as it was.
    if (c.CatalogueVersion != 0) document.Set(LauncherSection, CatalogueVersion, std::to_string(c.CatalogueVersion));
    // The launcher never changes the cap: a save hands back what the file held.
    if (c.DownloadLimitKBps) document.Set(LauncherSection, DownloadLimitKBps, TextToIni(*c.DownloadLimitKBps));
    StoreForWriting(path, document);
}

void WriteLauncherSetting(const std::string& section, const std::string& key, const std::string& value) {
    const std::string path = LauncherSettingsPath();
    IniDocument document = LoadForWriting(path);
    document.Set(section, key, TextToIni(value));
    StoreForWriting(path, document);
}

std::string ReadLauncherSetting(const std::string& section, const std::string& key, const std::string& fallback) {
    return TextFromIni(ReadIniString(LauncherSettingsPath(), section, key, fallback));
}

}  // namespace orv
