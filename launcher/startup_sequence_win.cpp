#include "launcher/startup_sequence_win.h"

#include <windows.h>

#include <chrono>
#include <exception>

#include "launcher/app_win.h"
#include "launcher/config/launcher_identity.h"
#include "launcher/base/message_box.h"
#include "launcher/launch_win.h"
#include "launcher/net/download_win.h"
#include "launcher/net/offline_switch_win.h"
#include "launcher/platform/system_codepage_win.h"
#include "launcher/platform/wide_win.h"
#include "launcher/url_scheme_win.h"

namespace orv {
namespace {

int64_t SecondsSince1970() {
    return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void MakeFileWritable(const std::string& path) {
    // A file that stays read-only is reported by the write that needs it, with the platform's
    // message; nothing is gained by stopping the start here.
    ::SetFileAttributesW(Wide(path).c_str(), FILE_ATTRIBUTE_NORMAL);
}

}  // namespace

StartupPlatform SystemStartupPlatform() {
    StartupPlatform platform;
    platform.checkGlobalUserOffline = &CheckGlobalUserOffline;
    platform.makeFileWritable = &MakeFileWritable;
    platform.registerUrlScheme = &RegisterUrlScheme;
    platform.probeUrl = &ProbeUrl;
    platform.downloadFile = &DownloadFile;
    platform.downloadStatement = [](const std::string& url, const std::string& path, size_t maxBytes) {
        return DownloadBoundedFile(url, path, maxBytes);
    };
    platform.now = &SecondsSince1970;
    platform.connect = SystemConnectActions();
    platform.codec = SystemAnsiCodec();
    return platform;
}

StartupResult RunFormCreate(const StartupWindowHooks& window) {
    StartupContext context;
    try {
        context.executablePath = ExecutablePath();
    } catch (const std::exception& error) {
        StartupResult result;
        result.failedStep = StartupStep::SetGameFolder;
        result.error = error.what();
        ShowErrorBox(result.error);
        return result;
    }
    context.arguments = CommandLineArguments;
    context.publisherKey = UpdatePublicKey;
    return RunFormCreate(context, window, SystemStartupPlatform());
}

}  // namespace orv
