// The main window's progress pieces of a check run, paced for the eye: the status line (Label4),
// the counters line (lbl2), the two progress strips and the two counters bars (pb1, pb2).
//
// A strip is three pictures on each other: its background (Image1 above, Image2 below), its fill
// (Image3 per file, Image9 overall), whose width is the progress, and what is drawn over the fill
// (Image4, Image5). Only the fills move; the rest is the layout's. pb1 and pb2 lie outside the
// visible part of the window: the run uses them as counters.
//
// A run sets these many times a second: several texts per checked file, a width per 4096-byte
// block. Each piece goes to its control at most once per kPaintSpacing, the latest value is held
// meanwhile, and every flush puts what is held on screen: at the end of each download, before every
// message box during a run, in the stop procedure and when the run is over. The run reads back its
// own values (the bars' positions, the file image's width), never the controls'.
#pragma once

#include <string>

#include "launcher/base/events.h"
#include "launcher/base/message_box.h"
#include "launcher/base/paced_value.h"
#include "launcher/ui/controls_win.h"
#include "launcher/ui/picture_control_win.h"

namespace orv {

struct FileProgressTarget;

// About two frames of a 60 Hz screen: the eye follows a changing text no faster, and values handed
// over this seldom cost next to nothing beside the run's work.
inline constexpr PaceClock::duration kPaintSpacing = std::chrono::milliseconds(30);

// What a counters bar stands for: the bar's own rule holds a position within 0 to the maximum.
struct BarState {
    int max = 0;
    int position = 0;
    bool operator==(const BarState&) const = default;
    BarState WithMax(int newMax) const;
    BarState WithPosition(int newPosition) const;
};

class CheckProgressDisplay {
public:
    // The window's controls (members of the main window, which outlive this object).
    struct Pieces {
        LabelControl& Label4;
        LabelControl& lbl2;
        PictureControl& Image3;
        PictureControl& Image9;
        ProgressBar& pb1;
        ProgressBar& pb2;
    };

    explicit CheckProgressDisplay(const Pieces& pieces);
    CheckProgressDisplay(const CheckProgressDisplay&) = delete;
    CheckProgressDisplay& operator=(const CheckProgressDisplay&) = delete;

    // While one lives, a run is showing its progress here: the display starts from what the controls
    // show (the console client's lines, the last run's end), the run's pumps that let events through
    // hand over what is due, and every box this thread shows finds the latest state on screen. It
    // flushes when it ends. The pumps are spaced out in time besides (see the .cpp).
    class RunScope {
    public:
        explicit RunScope(CheckProgressDisplay& display);
        ~RunScope();
        RunScope(const RunScope&) = delete;
        RunScope& operator=(const RunScope&) = delete;

    private:
        static void Pump();

        CheckProgressDisplay& display_;
        EventPump previous_;
        CheckProgressDisplay* outerDisplay_;
        EventPump outerNext_;
        BeforeEveryBox flushFirst_;
    };

    // ---- Paced: what the run shows.
    void SetStatus(const std::string& text) { status_.Set(text); }
    void SetCounters(const std::string& text) { counters_.Set(text); }
    void SetFileMax(int max) { fileBar_.Set(fileBar_.Latest().WithMax(max)); }
    int FileMax() const noexcept { return fileBar_.Latest().max; }
    void SetFilePosition(int position) { fileBar_.Set(fileBar_.Latest().WithPosition(position)); }
    int FilePosition() const noexcept { return fileBar_.Latest().position; }
    void SetFileWidth(int pixels) { fileImage_.Set(pixels); }
    int FileWidth() const noexcept { return fileImage_.Latest(); }
    // pb2 to position 0 and the given maximum.
    void ResetOverall(int max) { overallBar_.Set(BarState{max, 0}); }
    int OverallPosition() const noexcept { return overallBar_.Latest().position; }
    void SetOverallPosition(int position) { overallBar_.Set(overallBar_.Latest().WithPosition(position)); }
    void SetOverallWidth(int pixels) { overallImage_.Set(pixels); }
    // pb1 to its maximum and Image3 full: a file has been dealt with.
    void FillFileProgress();

    // Everything held goes on screen now.
    void Flush();
    // What is held and whose time has come goes on screen.
    void ShowDue();

    // ---- At once: the stop procedure's idle state, both strips full (after what was held has been
    // seen) and the status line empty; and pb1 at 0 for the start.
    void ShowStripsFull();
    void ShowStatusEmpty() { status_.ShowAtOnce(""); }
    void ShowFileBarEmpty();

    // What a game file's download drives: pb1 and Image3, and a flush once it has ended.
    FileProgressTarget FileTarget();

private:
    // The controls' present state, taken over (a run starts from it).
    void AdoptControls();

    Pieces pieces_;
    PacedValue<std::string> status_;
    PacedValue<std::string> counters_;
    PacedValue<int> fileImage_;
    PacedValue<int> overallImage_;
    PacedValue<BarState> fileBar_;
    PacedValue<BarState> overallBar_;
};

}  // namespace orv
