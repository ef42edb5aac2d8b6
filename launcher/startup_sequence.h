// The main window's creation sequence (FormCreate) without the window: clear the work-offline
// switch, find the game folder, load the settings and (on a first run) the emulator profile, apply
// the game language, register the URL scheme, fetch the catalogue or go offline, decide whether the
// launcher is out of date, and dispatch on argument 2 (plain command line, forced update, or the
// connect-link start).
//
// The platform and the window come in as functions, so the order and the failure rule can be
// tested anywhere; startup_sequence_win.h supplies the Win32 ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "launcher/base/codepage.h"
#include "launcher/connect_link.h"

namespace orv {

// What the main window does during its creation. Missing functions are skipped.
struct StartupWindowHooks {
    // Step 6: the game language menu with LauncherConfig.GameLanguage (sets UiLanguage and
    // translates the windows; every message from then on follows it).
    std::function<void()> applyGameLanguage;
    // Step 10: enable the Play button with its static picture.
    std::function<void()> enablePlay;
    // Step 12: the check run's file counter bar back to 0.
    std::function<void()> resetCheckProgress;
};

// The platform services of the sequence.
struct StartupPlatform {
    std::function<void()> checkGlobalUserOffline;
    // Clears read-only, hidden and system from an existing file so that it can be written later.
    std::function<void(const std::string& path)> makeFileWritable;
    // Registers the URL scheme for this executable, silently; raises on a refusal.
    std::function<void(const std::string& executablePath)> registerUrlScheme;
    std::function<bool(const std::string& url)> probeUrl;
    std::function<bool(const std::string& url, const std::string& path)> downloadFile;
    // A signed statement: false when it did not come whole or is longer than `maxBytes`.
    std::function<bool(const std::string& url, const std::string& path, size_t maxBytes)> downloadStatement;
    // Seconds since 1970 UTC, against which statements expire.
    std::function<int64_t()> now;
    ConnectActions connect;
    AnsiCodec codec;
};

struct StartupContext {
    std::string executablePath;           // the launcher's own, full
    std::vector<std::string> arguments;  // the command line as split, argument 0 the program
    // UpdatePublicKey: empty, or the key whose statement the server's catalogue must carry.
    std::string publisherKey;
};

// The fourteen steps, numbered as the failure report gives them.
enum class StartupStep : int {
    None = 0,
    ClearWorkOffline = 1,
    SetGameFolder,
    ProfileWritable,
    LoadSettings,
    ConfigNickname,
    GameLanguage,
    ClearSelfUpdate,
    UrlScheme,
    LzmaAlone,
    EnablePlay,
    Catalogue,
    CheckProgress,
    CheckLauncherVersion,
    StartMode,
};

struct StartupResult {
    bool finished = false;                   // every step ran; CreationFinished is set
    StartupStep failedStep = StartupStep::None;  // the step whose error ended the sequence
    std::string error;                       // that error's text, shown in the error box
    std::optional<ConnectOutcome> connect;   // argument 2 was a connect link
};

// FormCreate, steps 1 to 14 and the creation-finished flag. An error raised by a step ends the
// sequence there: it is shown in the application's error box and the window still opens with
// what was done before. Never raises.
StartupResult RunFormCreate(const StartupContext& context, const StartupWindowHooks& window,
                            const StartupPlatform& platform);

// Step 13 alone: SelfUpdateNeeded, and when the catalogue offers another launcher version the
// self-update values it gives (TypeOfSelfUpdate 0 when missing; the others keep their values when
// missing or not usable). Reads OfflineMode and the local catalogue. Raises EOSError.
void DecideLauncherSelfUpdate(const AnsiCodec& codec);

// The launcher's one LZMA-alone object: created by the sequence, released by the main window when
// it is destroyed.
void CreateLzmaAloneInstance();
void ReleaseLzmaAloneInstance();

}  // namespace orv
