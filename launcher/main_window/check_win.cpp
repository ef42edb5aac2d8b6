// The Check and Stop buttons: the check action puts the window into its checking state and runs
// the check-and-repair run; the stop procedure ends a run and puts the window back to idle.
#include "launcher/main_window/check_win.h"

#include <algorithm>
#include <chrono>
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
    static constexpr auto kSpacing = std::chrono::milliseconds(8);

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

// A progress image moves once per block of a download (the per-file one) or every few files (the
// overall one); the eye sees no more than the window's repaints, every 40 ms while a run works, so
// it is moved at most that often, and to its last width when the download ends.
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
    int Width() const { return pending_ >= 0 ? pending_ : shown_ >= 0 ? shown_ : image_.Width(); }
    void Flush() {
        if (pending_ >= 0) Show(pending_);
        pending_ = -1;
    }
    // At once, dropping what is held back. The image is full after every checked file, and asking
    // the window whether it already is costs as much as a move: the width last set is remembered.
    void Show(int pixels) {
        pending_ = -1;
        if (pixels == shown_) return;
        image_.SetWidth(pixels);
        shown_ = pixels;
    }
    // The width was set past this object (the stop procedure): nothing held back may overwrite it,
    // and what was remembered no longer holds.
    void Forget() {
        pending_ = -1;
        shown_ = -1;
    }

private:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kSpacing = std::chrono::milliseconds(40);

    PictureControl& image_;
    int pending_ = -1;
    int shown_ = -1;
    Clock::time_point last_{};
};

// pb1 and pb2 lie outside the visible part of the window: the run uses them as counters. Every
// change of a bar's range or position asks it to repaint there and then, so the run's values are
// kept here, with the bars' own rules (a position stays within 0 to the maximum), and handed to
// the bars at most every 40 ms and once the run is over.
class LazyBar {
public:
    explicit LazyBar(ProgressBar& bar) : bar_(bar), max_(bar.Max()), position_(bar.Position()) {}
    int Max() const { return max_; }
    int Position() const { return position_; }
    void SetMax(int max) {
        max_ = max;
        position_ = Held(position_);
    }
    void SetPosition(int position) { position_ = Held(position); }
    void Flush() {
        if (bar_.Max() != max_) bar_.SetMax(max_);
        if (bar_.Position() != position_) bar_.SetPosition(position_);
    }

private:
    int Held(int position) const { return std::max(0, std::min(position, max_)); }

    ProgressBar& bar_;
    int max_;
    int position_;
};

class LazyBars {
public:
    LazyBars(ProgressBar& fileBar, ProgressBar& overallBar) : file(fileBar), overall(overallBar) {}
    // After a change: the bars are brought up to date when their time has come.
    void Changed() {
        const Clock::time_point now = Clock::now();
        if (now - last_ < kSpacing) return;
        last_ = now;
        Flush();
    }
    void Flush() {
        file.Flush();
        overall.Flush();
    }

    LazyBar file;
    LazyBar overall;

private:
    using Clock = std::chrono::steady_clock;
    static constexpr auto kSpacing = std::chrono::milliseconds(40);
    Clock::time_point last_ = Clock::now();
};

// The run's view of the main window.
class MainWindowCheckView final : public CheckRunView {
public:
    MainWindowCheckView(TForm1& form, ThrottledWidth& fileImage, LazyBars& bars)
        : form_(form), fileImage_(fileImage), overallImage_(form.Image9), bars_(bars) {}

    void SetStatus(const std::string& text) override { form_.Label4.SetText(text); }
    void SetCounters(const std::string& text) override { form_.lbl2.SetText(text); }
    void ResetOverall(int max) override {
        bars_.overall.SetPosition(0);
        bars_.overall.SetMax(max);
        bars_.Changed();
    }
    int OverallPosition() const override { return bars_.overall.Position(); }
    void SetOverallPosition(int position) override {
        bars_.overall.SetPosition(position);
        bars_.Changed();
    }
    // The width grows by a pixel every few files, and each move repaints that part of the window:
    // as with the per-file image, it moves at most as often as the window repaints.
    void SetOverallWidth(int pixels) override { overallImage_.Set(pixels); }
    void SetFileMax(int max) override {
        bars_.file.SetMax(max);
        bars_.Changed();
    }
    void FillFileProgress() override {
        bars_.file.SetPosition(bars_.file.Max());
        bars_.Changed();
        fileImage_.Show(CheckProgressFullWidth);
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
        // The stop procedure sets both images' widths itself.
        overallImage_.Forget();
        bars_.Flush();
        form_.stops();
    }

    bool closeRequested = false;

private:
    TForm1& form_;
    ThrottledWidth& fileImage_;
    ThrottledWidth overallImage_;
    LazyBars& bars_;
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
    Image3.SetWidth(CheckProgressFullWidth);
    Image9.SetWidth(CheckProgressFullWidth);
    // A stop pressed during an unpack returns here once the unpack has ended, and the run then
    // still puts the new file in its place before it sees the stop: neither the game nor the
    // cleaner (which would take the file being put in place for a foreign one) may start before.
    if (!g_runActive) {
        SetCleanButtonEnabled(true);
        EnablePlay(*this);
    }
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
    LazyBars bars(pb1, pb2);
    MainWindowCheckView view(*this, fileImage, bars);
    FileProgressTarget progress;
    progress.setBarMax = [&bars](int value) {
        bars.file.SetMax(value);
        bars.Changed();
    };
    progress.barMax = [&bars] { return bars.file.Max(); };
    progress.setBarPosition = [&bars](int value) {
        bars.file.SetPosition(value);
        bars.Changed();
    };
    progress.barPosition = [&bars] { return bars.file.Position(); };
    progress.setImageWidth = [&fileImage](int pixels) { fileImage.Set(pixels); };
    progress.imageWidth = [&fileImage] { return fileImage.Width(); };
    progress.flush = [&fileImage] { fileImage.Flush(); };

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
            const PumpBudget budget;
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
    bars.Flush();
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
