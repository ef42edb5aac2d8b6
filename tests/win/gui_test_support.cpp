#include "gui_test_support.h"

#include "launcher/base/app_state.h"
#include "launcher/base/events.h"
#include "launcher/main_window/main_window_win.h"
#include "launcher/startup_sequence_win.h"
#include "launcher/ui/message_loop_win.h"

namespace orv::test {

void EnsureApplication() {
    static bool done = false;
    if (done) return;
    done = true;
    InitializeApplication(::GetModuleHandleW(nullptr));
    // No test may block on a real box: the real handler is installed only where a test asks for it.
    SetMessageHandler(nullptr);
}

RecordedMessages::RecordedMessages(MsgResult answer) {
    previous_ = SetMessageHandler([this, answer](const MessageRequest& request) {
        seen_.push_back(request);
        return answer;
    });
}

RecordedMessages::~RecordedMessages() { SetMessageHandler(previous_); }

SimulatedStart::SimulatedStart() : SimulatedStart(Options{}) {}

SimulatedStart::SimulatedStart(Options options) : options_(std::move(options)) {
    GameFolder = dir_.Path();
    OfflineMode = false;
    SelfUpdateNeeded = false;
    ForceUpdateRequested = false;
    WindowShown = false;
    CreationFinished = false;
    LauncherConfig = LauncherSettings{};
    SetMainWindowStartup([this](const StartupWindowHooks& hooks) {
        if (!options_.runSequence) return StartupResult{};
        StartupContext context;
        context.executablePath = dir_.File("Orvanta.exe");
        context.arguments = options_.arguments;
        StartupPlatform platform = SystemStartupPlatform();
        platform.checkGlobalUserOffline = [] {};
        platform.registerUrlScheme = [](const std::string&) {};
        platform.probeUrl = [this](const std::string&) {
            ++probes;
            return options_.catalogue.has_value();
        };
        platform.downloadFile = [this](const std::string&, const std::string& path) {
            WriteFile(path, *options_.catalogue);
            return true;
        };
        platform.connect.killProcessByName = [this](const std::string& name) {
            killed.push_back(name);
            return 0;
        };
        platform.connect.startLoader = [this](const std::string& path) { loaders.push_back(path); };
        platform.connect.terminateApplication = [this] { terminated = true; };
        return RunFormCreate(context, hooks, platform);
    });
    SetLoaderStarter([this](const std::string& path) { loaders.push_back(path); });
}

SimulatedStart::~SimulatedStart() {
    SetMainWindowStartup(nullptr);
    SetLoaderStarter(nullptr);
    OfflineMode = false;
    SelfUpdateNeeded = false;
    ForceUpdateRequested = false;
    WindowShown = false;
    CreationFinished = false;
}

bool PumpUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        PumpEvents();
        if (condition()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        ::Sleep(1);
    }
}

bool NothingQueued() { return HIWORD(::GetQueueStatus(QS_POSTMESSAGE | QS_SENDMESSAGE)) == 0; }

}  // namespace orv::test
