// The Check and Stop buttons: the check action puts the window into its checking state and runs
// the check-and-repair run; the stop procedure ends a run and puts the window back to idle.
#include "launcher/main_window/check_win.h"

#include <chrono>
#include <exception>
#include <utility>

#include "launcher/app_win.h"
#include "launcher/base/app_state.h"
#include "launcher/base/events.h"
#include "launcher/config/emulator_profile.h"
#include "launcher/config/launcher_settings.h"
#include "launcher/main_window/main_window_win.h"
#include "launcher/integrity/check_run_platform_win.h"
#include "launcher/integrity/unpack_workers_win.h"
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

void SetCleanButtonEnabled(bool enabled) {
    if (Form_Settings && Form_Settings->HandleAllocated()) Form_Settings->Button_CleanGameFolder.SetEnabled(enabled);
}

// The run pumps at many fixed points: several per file and one per 4096-byte block. Each pump is a
// round trip to the window system, and the window needs them only a few milliseconds apart to
// answer the player and to repaint, so while a run works its pumps are spaced out in time.
class PumpBudget {
public:
    PumpBudget() : previous_(SetEventPump(&Pump)) {
        next_ = previous_;
        last_ = Clock::now();
    }
    PumpBudget(const PumpBudget&) = delete;
    PumpBudget& operator=(const PumpBudget&) = delete;
    ~PumpBudget() {
        SetEventPump(previous_);
        next_ = nullptr;
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kSpacing = std::chrono::milliseconds(4);

    static void Pump() {
        const Clock::time_point now = Clock::now();
        if (now - last_ < kSpacing) return;
        last_ = now;
        if (next_) next_();
    }

    EventPump previous_;
    static inline EventPump next_ = nullptr;
    static inline Clock::time_point last_{};
};

// The per-file image moves once per block of a download; the eye sees no more than the window's
// repaints, so it is moved at most that often, and to its last width when the download ends.
class ThrottledWidth {
public:
    explicit ThrottledWidth(PictureControl& image) : image_(image) {}
    void Set(int pixels) {
        pending_ = pixels;
        const Clock::time_point now = Clock::now();
        if (now - last_ < kSpacing) return;
        last_ = now;
        Flush();
    }
    int Width() const { return pending_ >= 0 ? pending_ : image_.Width(); }
    void Flush() {
        if (pending_ >= 0) image_.SetWidth(pending_);
        pending_ = -1;
    }
    // The width was set past this object: nothing held back may overwrite it.
    void Forget() { pending_ = -1; }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kSpacing = std::chrono::milliseconds(30);

    PictureControl& image_;
    int pending_ = -1;
    Clock::time_point last_{};
};

// The run's view of the main window.
class MainWindowCheckView final : public CheckRunView {
public:
    MainWindowCheckView(TForm1& form, ThrottledWidth& fileImage) : form_(form), fileImage_(fileImage) {}

    void SetStatus(const std::string& text) override { form_.Label4.SetText(text); }
    void SetCounters(const std::string& text) override { form_.lbl2.SetText(text); }
    void ResetOverall(int max) override {
        form_.pb2.SetPosition(0);
        form_.pb2.SetMax(max);
    }
    int OverallPosition() const override { return form_.pb2.Position(); }
    void SetOverallPosition(int position) override { form_.pb2.SetPosition(position); }
    void SetOverallWidth(int pixels) override { form_.Image9.SetWidth(pixels); }
    void SetFileMax(int max) override { form_.pb1.SetMax(max); }
    void FillFileProgress() override {
        form_.pb1.SetPosition(form_.pb1.Max());
        fileImage_.Forget();
        form_.Image3.SetWidth(CheckProgressFullWidth);
    }
    void BringToFront() override {
        if (!form_.HandleAllocated()) return;
        ::ShowWindow(form_.Handle(), SW_SHOW);
        ::SetForegroundWindow(form_.Handle());
    }
    // Closing now would destroy the window under the running code: the close waits for its end.
    void RequestClose() override { closeRequested = true; }
    void Stop() override {
        fileImage_.Forget();
        form_.stops();
    }

    bool closeRequested = false;

private:
    TForm1& form_;
    ThrottledWidth& fileImage_;
};

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
    Image3.SetWidth(CheckProgressFullWidth);
    Image9.SetWidth(CheckProgressFullWidth);
    SetCleanButtonEnabled(true);
    Image_Button_Play.Assign(Image_Button_Play_Static);
    Image_Button_Play.SetEnabled(true);
    PumpEvents();
    Image_Button_Stop.SetShown(false);
    Label4.SetText("");
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
    ThrottledWidth fileImage(Image3);
    MainWindowCheckView view(*this, fileImage);
    FileProgressTarget progress;
    progress.setBarMax = [this](int value) { pb1.SetMax(value); };
    progress.barMax = [this] { return pb1.Max(); };
    progress.setBarPosition = [this](int value) {
        if (pb1.Position() != value) pb1.SetPosition(value);
    };
    progress.barPosition = [this] { return pb1.Position(); };
    progress.setImageWidth = [&fileImage](int pixels) { fileImage.Set(pixels); };
    progress.imageWidth = [&fileImage] { return fileImage.Width(); };
    progress.flush = [&fileImage] { fileImage.Flush(); };

    CheckRunRequest request;
    request.gamePosition = ComboBox_GameName.ItemIndex() + 1;
    request.buildPosition = ComboBox_GameVersion.ItemIndex() + 1;
    request.addressKeyPrefix = adrskach;
    bool finished = false;
    {
        const PumpBudget budget;
        finished = RunGuarded([&] {
            CheckRunPlatform platform = SystemCheckRunPlatform(std::move(progress));
            if (PlatformSetup()) PlatformSetup()(platform);
            RunCheck(request, view, platform);
        });
    }
    // A run that an error ended has been reported; the window goes back to idle so that the player
    // can try again.
    if (!finished) stops();
    g_runActive = false;
    Image_Button_Check.Assign(UiLanguage == UiRussian ? Image_Button_Check_Static_RU : Image_Button_Check_Static_EN);
    PumpEvents();
    if ((view.closeRequested || g_closeAfterRun) && HandleAllocated()) ::PostMessageW(Handle(), WM_CLOSE, 0, 0);
    g_closeAfterRun = false;
}

}  // namespace orv
