// Where a check run's time goes: every platform service, every call on the window's view and every
// event pump of the run is counted and timed on the GUI thread, each by its own time (what it
// spent minus the timed steps inside it, such as the pumps of a download), so that the steps add
// up to the run. Off unless asked for; the benchmark asks for it.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "launcher/base/events.h"
#include "launcher/integrity/check_run.h"

namespace orv {

class RunProfile {
public:
    using Clock = std::chrono::steady_clock;

    struct Step {
        int64_t calls = 0;
        Clock::duration own{};
        Clock::duration longest{};  // the longest own time of one call: what holds the window up
    };

    RunProfile();
    ~RunProfile();
    RunProfile(const RunProfile&) = delete;
    RunProfile& operator=(const RunProfile&) = delete;

    // The same services, each timed under its own name.
    CheckRunPlatform Wrap(CheckRunPlatform platform);
    // A view that times each call before handing it to `view`.
    std::unique_ptr<CheckRunView> Wrap(CheckRunView& view);
    // While the returned object lives, the installed event pump is timed as "pump"; it restores
    // the previous pump when it goes. One profile's pump at a time.
    class PumpTimer {
    public:
        explicit PumpTimer(RunProfile& profile);
        ~PumpTimer();
        PumpTimer(const PumpTimer&) = delete;
        PumpTimer& operator=(const PumpTimer&) = delete;

    private:
        RunProfile* previousProfile_;
        EventPump previousTimed_;
    };
    std::unique_ptr<PumpTimer> TimePumps();

    // Times one call of `name` while the object lives.
    class Scope {
    public:
        Scope(RunProfile& profile, const char* name);
        ~Scope();
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        RunProfile& profile_;
        const char* name_;
        Step& step_;
        Clock::time_point start_;
        Clock::duration inner_{};
        Clock::duration* outer_;
    };

    const std::map<std::string, Step>& Steps() const { return steps_; }

    // The longest stretch between two pumps (when the window could not answer), and the steps
    // that ended within it, each with the time it took.
    struct Gap {
        Clock::duration length{};
        std::vector<std::pair<std::string, Clock::duration>> steps;
        std::string within;  // the steps still running at its end, outermost first
    };
    const Gap& LongestGap() const { return longestGap_; }
    // One line per step, largest first: calls, own time, time per call, the longest call and the
    // share of `total`; then what no step accounts for ("the run itself").
    std::string Report(Clock::duration total) const;

private:
    friend void TimedPumpOf(RunProfile& profile);

    std::map<std::string, Step> steps_;
    // Since the last pump ended.
    Clock::time_point lastPump_ = Clock::now();
    Gap currentGap_;
    std::vector<const char*> open_;
    Gap longestGap_;
    // Where the running scope adds the time of the scopes inside it.
    Clock::duration* inner_ = nullptr;
};

}  // namespace orv
