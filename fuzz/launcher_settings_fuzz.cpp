// The launcher settings file as a player's folder may hold it, and the value conversions shared by
// the launcher's INI files.
#include "fuzz_support.h"
#include "game_profile.h"
#include "launcher/config/launcher_settings.h"

using namespace orv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes = fuzz::AsText(data, size);
    fuzz::PutScratchFile(SettingsFileName, bytes);
    LauncherConfig = {};
    LoadLauncherSettings();
    for (const std::string* text : {&LauncherConfig.GameLanguage, &LauncherConfig.GamePlayerName,
                                    &LauncherConfig.GameClanTag, &LauncherConfig.GameProcName,
                                    &LauncherConfig.GameUseAvatar})
        fuzz::Require(text->size() <= IniTextMaxBytes, "a settings text longer than 255 bytes");
    (void)ReadLauncherSetting("LauncherSettings", "BaseVersion", "0");

    fuzz::Require(TextFromIni(bytes).size() <= IniTextMaxBytes, "TextFromIni longer than 255 bytes");
    fuzz::Require(TextToIni(bytes).size() <= IniTextMaxBytes, "TextToIni longer than 255 bytes");
    (void)IntFromIni(bytes, -7);
    (void)BoolFromIni(bytes, true);
    return 0;
}
