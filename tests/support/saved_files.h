// The files the launcher rewrites in the game folder, each with a way to lay out a folder that
// holds it and a save that gives it one of two complete contents: the settings file, the loader's
// "rev.ini", the game's config and a repaired game file. Shared by the native kill and disk-full
// cases and by the Windows helper that saves in a loop until it is terminated (header only, as
// that helper links no test support).
#pragma once
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/config/emulator_profile.h"
#include "launcher/config/game_config.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/integrity/check_run.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/platform/files.h"

namespace orv::test {

struct SavedFile {
    const char* what;
    std::string (*path)();
    // Lays out the file (and what its save needs) in GameFolder.
    std::function<void()> prepare;
    // Saves content 0 or 1; raises when the save failed.
    std::function<void(int variant)> save;
};

// Puts `from` in the place of `to` in one step, as the check run's platform does.
using ReplaceFile = std::function<bool(const std::string& from, const std::string& to)>;

namespace saved_files_detail {

// Lines of other owners: a save rewrites them as well, so a larger file makes a longer save and a
// kill more likely to land inside one.
inline std::string OtherLines(const std::string& header, const std::string& line, int count) {
    std::string text = header;
    for (int i = 0; i < count; ++i) text += line + std::to_string(i) + "\r\n";
    return text;
}

inline void SetPlayer(int variant) {
    LauncherConfig.GamePlayerName = variant ? "Второй игрок с длинным именем" : "First";
    LauncherConfig.GameClanTag = variant ? "clan" : "vtl";
    LauncherConfig.GameRankLevel = variant ? 5 : 77;
    LauncherConfig.GameUseAvatar = variant ? "False" : "True";
}

inline std::string RepairedPlace() { return GameFolder + "\\cstrike\\maps\\de_dust2.bsp"; }
inline std::string RepairSource(int variant) {
    return GameFolder + "\\de_dust2.bsp." + std::to_string(variant) + ".lzma";
}

// Compressible bytes of their own for each variant.
inline std::string MapBytes(int variant) {
    std::string bytes(400000, '\0');
    uint32_t x = 2463534242u + static_cast<uint32_t>(variant);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i % 64 == 0) x ^= x << 13, x ^= x >> 17, x ^= x << 5;
        bytes[i] = static_cast<char>('a' + (x >> (i % 16)) % 8);
    }
    return bytes;
}

}  // namespace saved_files_detail

inline std::vector<SavedFile> SavedFiles(ReplaceFile replace) {
    using namespace saved_files_detail;
    return {
        {"settings file", &LauncherSettingsPath,
         [] { WriteNewFile(LauncherSettingsPath(), OtherLines("[OtherClientVersion]\r\n", "Key=value of another game ", 3000)); },
         [](int variant) {
             SetPlayer(variant);
             SaveLauncherSettings();
         }},
        {"rev.ini", &EmulatorProfilePath,
         [] { WriteNewFile(EmulatorProfilePath(), OtherLines("[Loader]\r\n", "LoaderOwnKey=kept ", 3000)); },
         [](int variant) {
             SetPlayer(variant);
             SaveEmulatorProfile();
         }},
        {"game config", &GameConfigPath,
         [] {
             CreateDirectories(GameFolder + "\\cstrike\\cfg");
             WriteNewFile(GameConfigPath(), OtherLines("name \"old\"\r\n", "bind kp_", 3000));
         },
         [](int variant) { WriteConfigValue(ConfigNicknameKey, variant ? "Второй" : "First", GameConfigPath()); }},
        // The check run's repair step: the download unpacked beside the file, which then takes
        // its place in one move; on failure the part file is removed and the old file stays.
        {"repaired game file", &RepairedPlace,
         [] {
             CreateDirectories(GameFolder + "\\cstrike\\maps");
             for (int variant : {0, 1}) {
                 const std::string plain = GameFolder + "\\plain";
                 WriteNewFile(plain, MapBytes(variant));
                 if (!TLZMAAlone().Main(plain, RepairSource(variant), "e")) throw Error("cannot pack a map");
                 RemoveFile(plain);
             }
         },
         [replace](int variant) {
             const std::string part = UnpackTemporaryPath(RepairedPlace());
             bool done = false;
             try {
                 done = TLZMAAlone().Main(RepairSource(variant), part, "d") && replace(part, RepairedPlace());
             } catch (const std::exception&) {
             }
             if (!done) {
                 RemoveFile(part);
                 throw Error("the repair did not finish");
             }
         }},
    };
}

// Names that a killed save may leave beside the file.
inline std::vector<std::string> LeftoverPaths(const std::string& path) {
    return {path + ".orvtmp", UnpackTemporaryPath(path)};
}

}  // namespace orv::test
