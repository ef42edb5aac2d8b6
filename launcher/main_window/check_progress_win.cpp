#include "launcher/main_window/check_progress_win.h"

#include <algorithm>
#include <utility>

#include "launcher/integrity/check_run.h"
#include "launcher/integrity/check_run_platform_win.h"

namespace orv {
namespace {

// The run pumps at many fixed points: several per file and one per 4096-byte block. Each pump is a
// round trip to the window system, and the window needs them only a few milliseconds apart to
// answer the player and to repaint, so while a run works its pumps are spaced out in time. The
// pumps let through are where held values whose time has come reach the screen: a file summed for
// seconds still shows its name.
constexpr PaceClock::duration kPumpSpacing = std::chrono::milliseconds(8);

CheckProgressDisplay* g_pumpDisplay = nullptr;
EventPump g_pumpNext = nullptr;
PaceClock::time_point g_lastPump{};

}  // namespace

BarState BarState::WithMax(int newMax) const {
    BarState next{newMax, position};
    return next.WithPosition(position);
}

BarState BarState::WithPosition(int newPosition) const {
    return BarState{max, std::max(0, std::min(newPosition, max))};
}

CheckProgressDisplay::CheckProgressDisplay(const Pieces& pieces)
    : pieces_(pieces),
      status_([this](const std::string& text) { pieces_.Label4.SetText(text); }, kPaintSpacing),
      counters_([this](const std::string& text) { pieces_.lbl2.SetText(text); }, kPaintSpacing),
      fileImage_([this](const int& pixels) { pieces_.Image3.SetWidth(pixels); }, kPaintSpacing),
      overallImage_([this](const int& pixels) { pieces_.Image9.SetWidth(pixels); }, kPaintSpacing),
      fileBar_(
          [this](const BarState& state) {
              // The range first: a bar holds its position within it.
              if (pieces_.pb1.Max() != state.max) pieces_.pb1.SetMax(state.max);
              if (pieces_.pb1.Position() != state.position) pieces_.pb1.SetPosition(state.position);
          },
          kPaintSpacing),
      overallBar_(
          [this](const BarState& state) {
              if (pieces_.pb2.Max() != state.max) pieces_.pb2.SetMax(state.max);
              if (pieces_.pb2.Position() != state.position) pieces_.pb2.SetPosition(state.position);
          },
          kPaintSpacing) {}

void CheckProgressDisplay::FillFileProgress() {
    SetFilePosition(FileMax());
    SetFileWidth(CheckProgressFullWidth);
}

void CheckProgressDisplay::Flush() {
    status_.Flush();
    counters_.Flush();
    fileImage_.Flush();
    overallImage_.Flush();
    fileBar_.Flush();
    overallBar_.Flush();
}

void CheckProgressDisplay::ShowDue() {
    status_.ShowIfDue();
    counters_.ShowIfDue();
    fileImage_.ShowIfDue();
    overallImage_.ShowIfDue();
    fileBar_.ShowIfDue();
    overallBar_.ShowIfDue();
}

void CheckProgressDisplay::ShowStripsFull() {
    Flush();
    fileImage_.ShowAtOnce(CheckProgressFullWidth);
    overallImage_.ShowAtOnce(CheckProgressFullWidth);
}

void CheckProgressDisplay::ShowFileBarEmpty() {
    fileBar_.ShowAtOnce(BarState{pieces_.pb1.Max(), 0});
}

FileProgressTarget CheckProgressDisplay::FileTarget() {
    FileProgressTarget target;
    target.setBarMax = [this](int value) { SetFileMax(value); };
    target.barMax = [this] { return FileMax(); };
    target.setBarPosition = [this](int value) { SetFilePosition(value); };
    target.barPosition = [this] { return FilePosition(); };
    target.setImageWidth = [this](int pixels) { SetFileWidth(pixels); };
    target.imageWidth = [this] { return FileWidth(); };
    target.flush = [this] { Flush(); };
    return target;
}

void CheckProgressDisplay::AdoptControls() {
    status_.Adopt(pieces_.Label4.Text());
    counters_.Adopt(pieces_.lbl2.Text());
    fileImage_.Adopt(pieces_.Image3.Width());
    overallImage_.Adopt(pieces_.Image9.Width());
    fileBar_.Adopt(BarState{pieces_.pb1.Max(), pieces_.pb1.Position()});
    overallBar_.Adopt(BarState{pieces_.pb2.Max(), pieces_.pb2.Position()});
}

CheckProgressDisplay::RunScope::RunScope(CheckProgressDisplay& display)
    : display_(display),
      previous_(nullptr),
      outerDisplay_(g_pumpDisplay),
      outerNext_(g_pumpNext),
      flushFirst_([&display] { display.Flush(); }) {
    display_.AdoptControls();
    g_pumpDisplay = &display_;
    previous_ = SetEventPump(&Pump);
    // A pump of an outer scope is already this one; what it passed on to stays the one to call.
    g_pumpNext = previous_ == &Pump ? outerNext_ : previous_;
    g_lastPump = PaceClock::now();
}

CheckProgressDisplay::RunScope::~RunScope() {
    display_.Flush();
    SetEventPump(previous_);
    g_pumpDisplay = outerDisplay_;
    g_pumpNext = outerNext_;
}

void CheckProgressDisplay::RunScope::Pump() {
    const PaceClock::time_point now = PaceClock::now();
    if (now - g_lastPump < kPumpSpacing) return;
    g_lastPump = now;
    if (g_pumpDisplay) g_pumpDisplay->ShowDue();
    if (g_pumpNext) g_pumpNext();
}

}  // namespace orv
