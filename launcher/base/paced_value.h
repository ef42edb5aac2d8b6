// One value of a display that its owner may set many times a second (a status text, a progress
// width): the control gets it at most once per interval, and the latest value always reaches it at
// a flush. The eye follows a few changes a second at best, while every change handed to a control
// costs a repaint and, under Wine, round trips to the window system.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <utility>

namespace orv {

using PaceClock = std::chrono::steady_clock;
using PaceNow = std::function<PaceClock::time_point()>;

template <typename T>
class PacedValue {
public:
    using Show = std::function<void(const T&)>;

    // `show` hands a value to the control; `now` tells the time (tests pass a clock of their own).
    PacedValue(Show show, PaceClock::duration spacing, T initial = T{}, PaceNow now = &PaceClock::now)
        : show_(std::move(show)), spacing_(spacing), now_(std::move(now)), latest_(std::move(initial)) {}

    // The newest value: it goes to the control at once when the interval since the last handover
    // has passed, otherwise it is held. A value equal to the one shown is not handed over again.
    void Set(T value) {
        latest_ = std::move(value);
        pending_ = !(shown_ && *shown_ == latest_);
        if (pending_ && Due()) Handover();
    }
    // Hands over the held value if its time has come, without a new one (a pump between sets).
    void ShowIfDue() {
        if (pending_ && Due()) Handover();
    }
    // Hands over the held value now.
    void Flush() {
        if (pending_) Handover();
    }
    // Hands `value` to the control now, whatever it was thought to show: for the few changes that
    // must be seen at once, and after others may have set the control past this object.
    void ShowAtOnce(T value) {
        latest_ = std::move(value);
        pending_ = true;
        shown_.reset();
        Handover();
    }
    // The control was found showing `value` (set past this object): nothing held, nothing to hand over.
    void Adopt(T value) {
        latest_ = value;
        shown_ = std::move(value);
        pending_ = false;
    }

    // What the display stands for: the value held, or the one shown.
    const T& Latest() const noexcept { return latest_; }
    bool Pending() const noexcept { return pending_; }

private:
    bool Due() const { return !last_ || now_() - *last_ >= spacing_; }
    void Handover() {
        pending_ = false;
        if (shown_ && *shown_ == latest_) return;
        show_(latest_);
        shown_ = latest_;
        last_ = now_();
    }

    Show show_;
    PaceClock::duration spacing_;
    PaceNow now_;
    T latest_;
    std::optional<T> shown_;  // unknown until first handed over or adopted
    bool pending_ = false;
    std::optional<PaceClock::time_point> last_;
};

}  // namespace orv
