// Time and memory of the launcher's check-and-repair run, measured from outside as a player would
// see it: Orvanta.exe is started with "x forceupdate" in a game folder without a settings file, so
// that it finds the server's game version new and runs the check at once, without a question.
// The run ends with the success box; the driver answers it and closes the launcher.
// scripts/bench-check runs it under Wine next to 7zz, rhash and a curl + xz loop.
//
//   orvanta-bench-check GAME_FOLDER [--timeout SECONDS] [--no-probes]
//
// --no-probes leaves the window alone while the run works: the probes (a message sent and a pixel
// invalidated every few milliseconds) are work the launcher does on top of its run, which a player
// does not ask of it, so timed runs go without them and the window is measured in runs of its own.
//
// Prints, one per line (seconds from the process start, bytes):
//   main window: <s> s
//   success box: <s> s
//   run: <s> s                       (from the main window to the box)
//   counters: <the main window's counters line at the end, if it can be read>
//   peak working set: <bytes> bytes
//   window working set: <bytes> bytes  (when the main window appeared, before the run had grown)
//   answer: <ms> ms max, <ms> ms mean over <n> probes     (a message sent to the main window)
//   repaint: <ms> ms max, <ms> ms mean over <n> probes    (a pixel invalidated until painted)
// Exit status 0 when the success box came; 1 otherwise (what the launcher showed is on stderr).
#include <windows.h>

#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>
#include <vector>

#include "game_profile.h"
#include "launcher/base/app_state.h"
#include "launcher/base/texts.h"
#include "launcher/main_window/layout_win.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"
#include "tools/ui_driver/ui_driver_win.h"

namespace {

using Clock = std::chrono::steady_clock;

// A host path ("/...") as Wine sees it: drive Z: is the host's root.
std::string WindowsPath(std::string path) {
    if (!path.empty() && path.front() == '/') {
        std::replace(path.begin(), path.end(), '/', '\\');
        path = "Z:" + path;
    }
    while (path.size() > 3 && path.back() == '\\') path.pop_back();
    return path;
}

double SecondsSince(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

void ReportBox(HWND box) {
    std::fprintf(stderr, "the launcher showed a box:\n");
    for (const std::string& text : orv::test::ControlTexts(box))
        if (!text.empty()) std::fprintf(stderr, "  %s\n", text.c_str());
}

PROCESS_MEMORY_COUNTERS MemoryCounters(DWORD processId) {
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    const orv::ScopedHandle process(
        ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, processId));
    if (!process || !::GetProcessMemoryInfo(process.Get(), &counters, sizeof(counters))) return {};
    return counters;
}

// The high-water mark the system keeps for the process; 0 when it cannot be read.
unsigned long long PeakWorkingSet(DWORD processId) { return MemoryCounters(processId).PeakWorkingSetSize; }

// What the process holds now; 0 when it cannot be read.
unsigned long long WorkingSet(DWORD processId) { return MemoryCounters(processId).WorkingSetSize; }

// How long the main window takes to answer a sent message and to repaint an invalidated pixel,
// probed from outside while the run works: a window that pumps at least every 50 ms answers and
// repaints within that.
class Responsiveness {
public:
    explicit Responsiveness(HWND window) : window_(window) {}

    // One round of probing; called every few milliseconds.
    void Probe() {
        const auto start = Clock::now();
        DWORD_PTR result = 0;
        if (::SendMessageTimeoutW(window_, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &result)) answer_.Add(SecondsSince(start));
        if (!repaintAsked_) {
            RECT pixel{0, 0, 1, 1};
            ::RedrawWindow(window_, &pixel, nullptr, RDW_INVALIDATE);
            repaintAsked_ = true;
            askedAt_ = Clock::now();
        } else if (!PixelAwaitsPaint()) {
            repaint_.Add(SecondsSince(askedAt_));
            repaintAsked_ = false;
        }
    }
    void Print() const {
        answer_.Print("answer");
        repaint_.Print("repaint");
    }

private:
    // Only the probed pixel: the run invalidates other parts of the window between its paints, so
    // the window as a whole is seldom without anything to paint.
    bool PixelAwaitsPaint() const {
        const HRGN region = ::CreateRectRgn(0, 0, 0, 0);
        if (!region) return false;
        const bool waiting = ::GetUpdateRgn(window_, region, FALSE) != ERROR && ::PtInRegion(region, 0, 0);
        ::DeleteObject(region);
        return waiting;
    }

    struct Figures {
        double max = 0, sum = 0;
        int count = 0;
        void Add(double seconds) {
            max = std::max(max, seconds);
            sum += seconds;
            ++count;
        }
        void Print(const char* what) const {
            if (count == 0) return;
            std::printf("%s: %.1f ms max, %.1f ms mean over %d probes\n", what, max * 1000, sum * 1000 / count, count);
        }
    };

    HWND window_;
    Figures answer_, repaint_;
    bool repaintAsked_ = false;
    Clock::time_point askedAt_{};
};

// The counters line the run leaves in the main window, or empty.
std::string FinalCounters(HWND window) {
    const std::string prefix = orv::TextIn(orv::TextId::CountersAtEnd, orv::UiRussian);
    for (const std::string& text : orv::test::ControlTexts(window))
        if (text.compare(0, prefix.size(), prefix) == 0) return text.substr(prefix.size());
    return {};
}

int Run(int argc, char** argv) {
    std::string folder;
    int timeoutSeconds = 1800;
    bool probes = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--timeout" && i + 1 < argc) {
            timeoutSeconds = std::atoi(argv[++i]);
        } else if (arg == "--no-probes") {
            probes = false;
        } else if (folder.empty()) {
            folder = WindowsPath(arg);
        } else {
            std::fprintf(stderr, "unexpected argument: %s\n", arg.c_str());
            return 2;
        }
    }
    if (folder.empty() || timeoutSeconds < 1) {
        std::fprintf(stderr, "usage: orvanta-bench-check GAME_FOLDER [--timeout SECONDS]\n");
        return 2;
    }
    const auto timeout = std::chrono::seconds(timeoutSeconds);

    // Without an installed version the server's one is always new: the forced start then runs the
    // check with no question asked. A missing file is what a fresh folder has.
    ::DeleteFileW(orv::Wide(folder + "\\" + orv::SettingsFileName).c_str());

    const auto start = Clock::now();
    orv::test::ChildProcess launcher(folder + "\\Orvanta.exe", "x forceupdate", folder);
    const HWND window =
        orv::test::WaitForWindow([&] { return orv::test::FindWindowOf(launcher.Id(), "TForm1"); }, timeout);
    const double windowSeconds = SecondsSince(start);
    // The launcher before its run has grown: the program, its window and pictures, and what the
    // platform layer (Wine's libraries, mapped into the process) brings.
    const unsigned long long windowWorkingSet = window ? WorkingSet(launcher.Id()) : 0;
    if (!window) {
        std::fprintf(stderr, "no main window within %d s\n", timeoutSeconds);
        if (const HWND box = orv::test::FindDialogOf(launcher.Id())) ReportBox(box);
        return 1;
    }
    Responsiveness responsiveness(window);
    HWND box = nullptr;
    const auto boxDeadline = Clock::now() + timeout;
    while (!(box = orv::test::FindDialogOf(launcher.Id())) && Clock::now() < boxDeadline) {
        if (probes) responsiveness.Probe();
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const double boxSeconds = SecondsSince(start);
    if (!box) {
        std::fprintf(stderr, "no box within %d s of the start\n", timeoutSeconds);
        return 1;
    }
    if (!Contains(orv::test::ControlTexts(box), orv::TextIn(orv::TextId::CheckSucceeded, orv::UiRussian))) {
        ReportBox(box);
        return 1;
    }
    orv::test::PressButton(box, IDOK);
    // The run puts the window back to idle after the box, the check button shown again: the peak
    // is read once that is done.
    const orv::ControlLayout& check = orv::LayoutOf(orv::MainControl::Image_Button_Check);
    const RECT checkBounds{check.left, check.top, check.left + check.width, check.top + check.height};
    orv::test::WaitForWindow(
        [&] {
            const HWND button = orv::test::ChildWithBounds(window, "Orvanta.Picture", checkBounds);
            return !::IsWindow(box) && button && ::IsWindowVisible(button) ? button : nullptr;
        },
        std::chrono::seconds(30));
    const std::string counters = FinalCounters(window);
    const unsigned long long peak = PeakWorkingSet(launcher.Id());

    std::printf("main window: %.3f s\n", windowSeconds);
    std::printf("success box: %.3f s\n", boxSeconds);
    std::printf("run: %.3f s\n", boxSeconds - windowSeconds);
    if (!counters.empty()) std::printf("counters: %s\n", counters.c_str());
    std::printf("peak working set: %llu bytes\n", peak);
    std::printf("window working set: %llu bytes\n", windowWorkingSet);
    responsiveness.Print();
    std::fflush(stdout);

    ::PostMessageW(window, WM_CLOSE, 0, 0);
    if (!launcher.WaitForExit(std::chrono::seconds(30))) {
        std::fprintf(stderr, "the launcher did not end when its window closed\n");
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return Run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "orvanta-bench-check: %s\n", e.what());
        return 1;
    }
}
