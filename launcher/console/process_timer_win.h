// The console runner's one-second tick: a thread timer of the GUI thread (SetTimer without a
// window) whose ticks count the seconds since a run began and since its last complete line, and
// wake the runner's worker through an event so that it checks its time limits.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>

#include "launcher/platform/scoped_win.h"

namespace orv {

class TProcessTimer {
public:
    // Raises EOSError when the event cannot be made.
    TProcessTimer();
    // Switches the tick off (its failure is ignored here).
    ~TProcessTimer();
    TProcessTimer(const TProcessTimer&) = delete;
    TProcessTimer& operator=(const TProcessTimer&) = delete;

    // Both counters to 0, then the tick on. Raises EProcessTimer "could not start timer".
    void Beginning();
    // The tick off. Raises EProcessTimer "could not kill timer".
    void Ending();
    // A complete line arrived: the count since the last output starts again.
    void NewOutput();

    bool Enabled() const noexcept { return enabled_; }
    // GUI thread only: SetTimer and KillTimer act on the calling thread's timers.
    void SetEnabled(bool value);
    int32_t SinceBeginning() const;
    int32_t SinceLastOutput() const;
    // Auto-reset; signalled by every tick.
    HANDLE Event() const noexcept { return event_.Get(); }

    // One tick: both counters up by one, then the event. Called by the timer callback.
    void Tick() noexcept;

private:
    static void CALLBACK TimerCallback(HWND, UINT, UINT_PTR id, DWORD) noexcept;

    mutable std::mutex criticalSection_;
    bool enabled_ = false;
    ScopedHandle event_;
    UINT_PTR id_ = 0;
    std::atomic<int32_t> sinceBeginning_{0};
    std::atomic<int32_t> sinceLastOutput_{0};
};

// The process-wide map from a platform timer id back to its timer: the callback gets only the id.
namespace TimerRegistry {
void Add(UINT_PTR id, TProcessTimer* timer);
// Removes the first pair with `id`.
void Remove(UINT_PTR id);
// The first timer registered under `id`, or none.
TProcessTimer* Find(UINT_PTR id);
}  // namespace TimerRegistry

}  // namespace orv
