#include "launcher/startup_sequence.h"

#include <exception>
#include <string_view>
#include <utility>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/base/events.h"
#include "launcher/base/message_box.h"
#include "launcher/base/texts.h"
#include "launcher/catalogue.h"
#include "launcher/catalogue_reader.h"
#include "launcher/catalogue_trust.h"
#include "launcher/config/emulator_profile.h"
#include "launcher/config/game_config.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/integrity/lzma_alone.h"
#include "launcher/net/download_limit.h"
#include "launcher/net/rate_limit.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/files.h"
#include "launcher/start_mode.h"

namespace orv {
namespace {

constexpr const char* kSelfUpdateSection = "selfupdate";

template <typename F, typename... Args>
void CallIfSet(const F& function, Args&&... args) {
    if (function) function(std::forward<Args>(args)...);
}

std::string FolderOf(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

// The manual-update page is handed to the shell; only a web address may come from the catalogue,
// not a program or a file on the machine.
bool IsManualPageAddress(const std::string& text) {
    if (!IsWebAddress(text)) return false;
    for (const char c : text)
        if (static_cast<unsigned char>(c) <= 0x20 || c == '"') return false;
    return true;
}

// A launcher with a publisher key goes online only with a catalogue the key signed; whatever else
// the server gives leaves it as if the server had not answered, on the copy taken before.
void FetchSignedCatalogue(const StartupContext& context, const StartupPlatform& platform) {
    SignedCatalogueServices services;
    services.download = platform.downloadFile;
    services.downloadStatement = platform.downloadStatement;
    services.now = platform.now;
    const std::optional<TrustResult> trust = UpdateSignedCatalogue(context.publisherKey, services);
    PumpEvents();
    if (!trust || *trust) return;
    ShowMessage(FormatText(Tr(TextId::CatalogueNotSigned), CatalogueUrl()));
    OfflineMode = true;
}

void FetchCatalogue(const StartupContext& context, const StartupPlatform& platform) {
    const std::string address = CatalogueUrl();
    if (platform.probeUrl && platform.probeUrl(address)) {
        if (!context.publisherKey.empty()) {
            FetchSignedCatalogue(context, platform);
            return;
        }
        // A failed download leaves the previous local copy (or none) in place.
        CallIfSet(platform.downloadFile, address, LocalCataloguePath());
        PumpEvents();
        return;
    }
    ShowMessage(FormatText(Tr(TextId::CatalogueUnreachable), address));
    OfflineMode = true;
}

void DispatchStartMode(const StartupContext& context, const StartupPlatform& platform, StartupResult& result) {
    switch (StartModeOf(context.arguments)) {
        case StartMode::Normal:
            // Every normal start puts the plain game start back, so a connect address never
            // outlives the start it was written for.
            ResetEmulatorProcName();
            break;
        case StartMode::ForceUpdate:
            ForceUpdateRequested = true;
            break;
        case StartMode::ConnectLink:
            result.connect = StartConnectLink(ArgumentAt(context.arguments, 2), context.executablePath,
                                              platform.connect, platform.codec);
            break;
    }
}

}  // namespace

void DecideLauncherSelfUpdate(const AnsiCodec& codec) {
    if (OfflineMode) {
        SelfUpdateNeeded = false;
        return;
    }
    const Catalogue catalogue = Catalogue::Load(LocalCataloguePath());
    const CatalogueText offered = catalogue.OfferedLauncherVersion();
    const std::string version = offered.stored ? codec.toUtf8(offered.bytes) : offered.bytes;
    if (version == LauncherVersion) {
        SelfUpdateNeeded = false;
        return;
    }
    SelfUpdateNeeded = true;
    const IniDocument& d = catalogue.Document();
    TypeOfSelfUpdate = IntFromIni(d.Get(kSelfUpdateSection, "typeofselfupdate", "0"), 0);
    if (const std::optional<std::string> url = d.Find(kSelfUpdateSection, "urlformanualupdate")) {
        const std::string text = codec.toUtf8(*url);
        if (IsManualPageAddress(text)) ManualUpdateUrl = text;
    }
    ShowNotificationSelfUpdate =
        IntFromIni(d.Get(kSelfUpdateSection, "shownotificationselfupdate", ""), ShowNotificationSelfUpdate);
    AllowCancelSelfUpdate = IntFromIni(d.Get(kSelfUpdateSection, "allowcancelselfupdate", ""), AllowCancelSelfUpdate);
}

void CreateLzmaAloneInstance() {
    // The object holds no state, so one for the whole process serves every window that is created.
    static TLZMAAlone instance;
    LzmaAloneInstance = &instance;
}

void ReleaseLzmaAloneInstance() { LzmaAloneInstance = nullptr; }

StartupResult RunFormCreate(const StartupContext& context, const StartupWindowHooks& window,
                            const StartupPlatform& platform) {
    StartupResult result;
    StartupStep step = StartupStep::None;
    try {
        step = StartupStep::ClearWorkOffline;
        CallIfSet(platform.checkGlobalUserOffline);

        step = StartupStep::SetGameFolder;
        GameFolder = FolderOf(context.executablePath);

        step = StartupStep::ProfileWritable;
        if (FileExists(EmulatorProfilePath())) CallIfSet(platform.makeFileWritable, EmulatorProfilePath());

        step = StartupStep::LoadSettings;
        const bool firstRun = !FileExists(LauncherSettingsPath());
        LoadLauncherSettings();
        // A first run takes the player's values over from an existing "rev.ini".
        if (firstRun) LoadEmulatorProfile();
        // Every download from here on, the catalogue's first, keeps to the player's cap.
        SetLauncherDownloadLimit(RateFromKBps(LauncherConfig.DownloadLimitKBps.value_or("")));

        step = StartupStep::ConfigNickname;
        ReadConfigNickname();

        step = StartupStep::GameLanguage;
        CallIfSet(window.applyGameLanguage);

        step = StartupStep::ClearSelfUpdate;
        SelfUpdateNeeded = false;

        step = StartupStep::UrlScheme;
        CallIfSet(platform.registerUrlScheme, context.executablePath);

        step = StartupStep::LzmaAlone;
        CreateLzmaAloneInstance();

        step = StartupStep::EnablePlay;
        CallIfSet(window.enablePlay);

        step = StartupStep::Catalogue;
        FetchCatalogue(context, platform);

        step = StartupStep::CheckProgress;
        CallIfSet(window.resetCheckProgress);

        step = StartupStep::CheckLauncherVersion;
        DecideLauncherSelfUpdate(platform.codec);

        step = StartupStep::StartMode;
        DispatchStartMode(context, platform, result);
    } catch (...) {
        result.failedStep = step;
        result.error = DescribeException(std::current_exception()).Message;
        ShowErrorBox(result.error);
        return result;
    }
    CreationFinished = true;
    result.finished = true;
    return result;
}

}  // namespace orv
