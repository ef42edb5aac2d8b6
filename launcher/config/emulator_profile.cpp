#include "launcher/config/emulator_profile.h"

#include <cstdint>
#include <string_view>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/config/ini_file.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/platform/files.h"

namespace orv {
namespace {

using namespace emulator_keys;

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool StartsWithBom(std::string_view bytes) { return bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom; }

}  // namespace

std::string EmulatorProfilePath() { return GameFolder + "\\" + EmulatorProfileName; }

std::string EmulatorProcNameLine() { return std::string(GameCommandPrefix) + " " + LauncherConfig.GameProcName; }

std::string EmulatorRankText(int rank) {
    // The leading 0 goes before the digits, so that a (meaningless) negative rank still reads back as
    // the same number rather than as "0-5", which is no number at all.
    std::string text = rank < 0 ? "-0" : "0";
    text += rank < 0 ? std::to_string(-static_cast<int64_t>(rank)) : std::to_string(rank);
    return text;
}

void LoadEmulatorProfile() {
    const std::string path = EmulatorProfilePath();
    IniDocument document;
    if (FileExists(path)) {
        std::string bytes = ReadFileBytes(path);
        if (StartsWithBom(bytes)) {
            bytes = NormalizeIniLines(bytes);
            WriteFileReplacing(path, bytes);
        }
        document = IniDocument(bytes);
    }
    LauncherSettings& c = LauncherConfig;
    c.GameLanguage = TextFromIni(document.Get(EmulatorSection, Language, player_defaults::Language));
    const std::string userName = DefaultPlayerName();
    c.GamePlayerName = TextFromIni(document.Get(SteamClientSection, PlayerName, userName));
    c.GameClanTag = TextFromIni(document.Get(SteamClientSection, ClanTag, player_defaults::ClanTag));
    c.GameProcName = player_defaults::ProcName;
    c.GameUseAvatar = TextFromIni(document.Get(SteamClientSection, UseAvatar, player_defaults::UseAvatar));
    c.GameRankLevel = IntFromIni(document.Get(SteamClientSection, RankLevel, ""), player_defaults::RankLevel);
    c.GamePrivatRank = IntFromIni(document.Get(SteamClientSection, PrivatRank, ""), player_defaults::PrivatRank);
}

void SaveEmulatorProfile() {
    const std::string path = EmulatorProfilePath();
    const LauncherSettings& c = LauncherConfig;
    // Tidying the lines and the seven keys go into one rewrite: a refusal leaves the loader's file as
    // it was, never half updated.
    IniDocument document;
    if (FileExists(path)) document = IniDocument(NormalizeIniLines(ReadFileBytes(path)));
    document.Set(EmulatorSection, Language, TextToIni(c.GameLanguage));
    document.Set(SteamClientSection, PlayerName, TextToIni(c.GamePlayerName));
    document.Set(SteamClientSection, ClanTag, TextToIni(c.GameClanTag));
    document.Set(LoaderSection, ProcName, TextToIni(EmulatorProcNameLine()));
    document.Set(SteamClientSection, UseAvatar, TextToIni(c.GameUseAvatar));
    document.Set(SteamClientSection, RankLevel, EmulatorRankText(c.GameRankLevel));
    document.Set(SteamClientSection, PrivatRank, EmulatorRankText(c.GamePrivatRank));
    SaveIniFile(path, document);
}

void WriteEmulatorProcName(const std::string& commandLine) {
    WriteIniString(EmulatorProfilePath(), LoaderSection, ProcName, commandLine);
}

void ResetEmulatorProcName() { WriteEmulatorProcName(TextToIni(EmulatorProcNameLine())); }

}  // namespace orv
