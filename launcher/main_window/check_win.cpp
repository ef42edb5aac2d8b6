// The Check and Stop buttons: the check action puts the window into its checking state and runs
// the check-and-repair run; the stop procedure ends a run and puts the window back to idle.
#include "launcher/main_window/check_win.h"

#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "launcher/base/app_state.h"
#include "launcher/base/events.h"
#include "launcher/config/emulator_profile.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/main_window/main_window_win.h"
#include "launcher/integrity/check_run_platform_win.h"
#include "launcher/integrity/run_profile.h"
#include "launcher/integrity/unpack_workers_win.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/ui/message_loop_win.h"
#include "launcher/windows/form_settings_win.h"

namespace orv {
namespace {

CheckRunPlatformSetup& PlatformSetup() {
    static CheckRunPlatformSetup setup;
    return setup;
}

// True while CheckAllFiles runs: the run pumps events, and nothing may start a second one inside.
bool g_runActive = false;

// The player closed the window during a run: it closes once the run has come back.
bool g_closeAfterRun = false;

// Play starts the game from the files a run may still be replacing: while a run is on the stack it
// stays disabled, also after a stop, and the run's end gives it back.
void EnablePlay(TForm1& form) {
    form.Image_Button_Play.Assign(form.Image_Button_Play_Static);
    form.Image_Button_Play.SetEnabled(true);
}

void SetCleanButtonEnabled(bool enabled) {
    if (Form_Settings && Form_Settings->HandleAllocated()) Form_Settings->Button_CleanGameFolder.SetEnabled(enabled);
}

// The run's view of the main window: its progress goes to the window's paced display.
class MainWindowCheckView final : public CheckRunView {
public:
    explicit MainWindowCheckView(TForm1& form) : form_(form), progress_(form.CheckProgress) {}

    void SetStatus(const std::string& text) override { progress_.SetStatus(text); }
    void SetCounters(const std::string& text) override { progress_.SetCounters(text); }
    void ResetOverall(int max) override { progress_.ResetOverall(max); }
    int OverallPosition() const override { return progress_.OverallPosition(); }
    void SetOverallPosition(int position) override { progress_.SetOverallPosition(position); }
    void SetOverallWidth(int pixels) override { progress_.SetOverallWidth(pixels); }
    void SetFileMax(int max) override { progress_.SetFileMax(max); }
    void FillFileProgress() override { progress_.FillFileProgress(); }
    void BringToFront() override {
        if (!form_.HandleAllocated()) return;
        ::ShowWindow(form_.Handle(), SW_SHOW);
        ::SetForegroundWindow(form_.Handle());
    }
    // Closing now would destroy the window under the running code: the close waits for its end.
    void RequestClose() override { closeRequested = true; }
    void Stop() override { form_.stops(); }

    bool closeRequested = false;

private:
    TForm1& form_;
    CheckProgressDisplay& progress_;
};

std::wstring EnvironmentText(const wchar_t* name) {
    std::wstring value(32768, L'\0');
    const DWORD length = ::GetEnvironmentVariableW(name, value.data(), static_cast<DWORD>(value.size()));
    value.resize(length < value.size() ? length : 0);
    return value;
}

// The profile is for whoever asked; a file that cannot be written only loses it.
void WriteProfile(const std::wstring& path, const std::string& report) {
    const ScopedFileHandle file(
        ::CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    DWORD written = 0;
    if (file.Valid()) ::WriteFile(file.Get(), report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
}

}  // namespace

void SetCheckRunPlatformSetup(CheckRunPlatformSetup setup) { PlatformSetup() = std::move(setup); }

void TForm1::Image_Button_CheckClick() {
    if (g_runActive) return;
    StopFlag = 0;
    PumpEvents();
    Image_Button_Play.SetEnabled(false);
    PumpEvents();
    Image_Button_Play.Assign(Image_Button_Play_Inactive);
    SetCleanButtonEnabled(false);
    Image_Button_Check.SetEnabled(false);
    Image_Button_Check.SetShown(false);
    ComboBox_GameName.SetEnabled(false);
    ComboBox_GameVersion.SetEnabled(false);
    Image_Button_Stop.Assign(UiLanguage == UiRussian ? Image_Button_Stop_Static_RU : Image_Button_Stop_Static_EN);
    PumpEvents();
    Image_Button_Stop.SetEnabled(true);
    Image_Button_Stop.SetShown(true);
    PumpEvents();
    if (UseSteamCmd)
        StartServerToolInstall();
    else
        CheckAllFiles("adrskach");
}

void TForm1::stops() {
    StopFlag = 1;
    Image_Button_Stop.SetEnabled(false);
    PumpEvents();
    // An install that may still run is ended; its last events run inside Stop and start no check.
    // Once its end was reported, a check it started may be what is being stopped: Stop would wait
    // for the worker whose end report runs that check.
    if (!ToolRunFinished) DosCommand1.Stop();
    WaitForRunningWorker(&CheckThread);
    // A save that fails is reported, and the window still goes back to idle: left in its checking
    // state, with Stop disabled, it could not be used again.
    RunGuarded([] {
        SaveLauncherSettings();
        SaveEmulatorProfile();
    });
    // What the run showed last is seen first; the counters line keeps it.
    CheckProgress.ShowStripsFull();
    // A stop pressed during an unpack returns here once the unpack has ended, and the run then
    // still puts the new file in its place before it sees the stop: neither the game nor the
    // cleaner (which would take the file being put in place for a foreign one) may start before.
    if (!g_runActive) {
        SetCleanButtonEnabled(true);
        EnablePlay(*this);
    }
    PumpEvents();
    Image_Button_Stop.SetShown(false);
    CheckProgress.ShowStatusEmpty();
    ComboBox_GameName.SetEnabled(true);
    ComboBox_GameVersion.SetEnabled(true);
    Image_Button_Check.SetShown(true);
    Image_Button_Check.SetEnabled(true);
}

bool CheckRunActive() { return g_runActive; }

void TForm1::CloseDuringCheckRun() {
    // Destroying the window now would pull it from under the run on the stack: the close stops
    // the run as the Stop button does and comes back when the run has returned.
    g_closeAfterRun = true;
    if (Image_Button_Stop.Enabled()) stops();
}

void TForm1::CheckAllFiles(const std::string& adrskach) {
    g_runActive = true;
    MainWindowCheckView view(*this);
    FileProgressTarget progress = CheckProgress.FileTarget();

    CheckRunRequest request;
    request.gamePosition = ComboBox_GameName.ItemIndex() + 1;
    request.buildPosition = ComboBox_GameVersion.ItemIndex() + 1;
    request.addressKeyPrefix = adrskach;
    bool finished = false;
    {
        // The benchmark asks where the run's time goes by naming a file for the profile.
        const std::wstring profilePath = EnvironmentText(L"ORVANTA_RUN_PROFILE");
        std::unique_ptr<RunProfile> profile;
        std::unique_ptr<RunProfile::PumpTimer> pumpTimer;
        if (!profilePath.empty()) {
            profile = std::make_unique<RunProfile>();
            pumpTimer = profile->TimePumps();
        }
        const auto started = RunProfile::Clock::now();
        {
            // Inside the timed pump, so that only the pumps it lets through are counted.
            const CheckProgressDisplay::RunScope shown(CheckProgress);
            finished = RunGuarded([&] {
                CheckRunPlatform platform = SystemCheckRunPlatform(std::move(progress));
                if (PlatformSetup()) PlatformSetup()(platform);
                // A file's place may be short enough for a plain path while its download or its
                // temporary name beside it is not; Windows takes those only in the long form. The
                // current folder stays as it is: SetCurrentDirectoryW keeps to MAX_PATH anyway.
                platform = WithExtendedLengthPaths(std::move(platform));
                if (!profile) {
                    RunCheck(request, view, platform);
                    return;
                }
                const std::unique_ptr<CheckRunView> timedView = profile->Wrap(view);
                RunCheck(request, *timedView, profile->Wrap(std::move(platform)));
            });
        }
        if (profile) WriteProfile(profilePath, profile->Report(RunProfile::Clock::now() - started));
    }
    // A run that an error ended has been reported; the window goes back to idle so that the player
    // can try again.
    if (!finished) stops();
    g_runActive = false;
    // Every way out of the run has called the stop procedure, which left these to this point.
    SetCleanButtonEnabled(true);
    EnablePlay(*this);
    Image_Button_Check.Assign(UiLanguage == UiRussian ? Image_Button_Check_Static_RU : Image_Button_Check_Static_EN);
    PumpEvents();
    if ((view.closeRequested || g_closeAfterRun) && HandleAllocated()) ::PostMessageW(Handle(), WM_CLOSE, 0, 0);
    g_closeAfterRun = false;
}

}  // namespace orv
