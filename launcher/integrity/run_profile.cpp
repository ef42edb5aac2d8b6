#include "launcher/integrity/run_profile.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace orv {
namespace {

using Clock = RunProfile::Clock;

// Wraps a service so that each call is one scope of `name`; an unset service stays unset.
template <class R, class... Args>
void Time(RunProfile& profile, const char* name, std::function<R(Args...)>& service) {
    if (!service) return;
    service = [&profile, name, inner = std::move(service)](Args... args) -> R {
        const RunProfile::Scope scope(profile, name);
        return inner(std::forward<Args>(args)...);
    };
}

class TimedView final : public CheckRunView {
public:
    TimedView(RunProfile& profile, CheckRunView& view) : profile_(profile), view_(view) {}
    void SetStatus(const std::string& text) override {
        const RunProfile::Scope scope(profile_, "view: status line");
        view_.SetStatus(text);
    }
    void SetCounters(const std::string& text) override {
        const RunProfile::Scope scope(profile_, "view: counters line");
        view_.SetCounters(text);
    }
    void ResetOverall(int max) override {
        const RunProfile::Scope scope(profile_, "view: overall bar");
        view_.ResetOverall(max);
    }
    int OverallPosition() const override { return view_.OverallPosition(); }
    void SetOverallPosition(int position) override {
        const RunProfile::Scope scope(profile_, "view: overall bar");
        view_.SetOverallPosition(position);
    }
    void SetOverallWidth(int pixels) override {
        const RunProfile::Scope scope(profile_, "view: overall image");
        view_.SetOverallWidth(pixels);
    }
    void SetFileMax(int max) override {
        const RunProfile::Scope scope(profile_, "view: file bar");
        view_.SetFileMax(max);
    }
    void FillFileProgress() override {
        const RunProfile::Scope scope(profile_, "view: file bar and image");
        view_.FillFileProgress();
    }
    void BringToFront() override {
        const RunProfile::Scope scope(profile_, "view: other");
        view_.BringToFront();
    }
    void RequestClose() override { view_.RequestClose(); }
    void Stop() override {
        const RunProfile::Scope scope(profile_, "view: other");
        view_.Stop();
    }

private:
    RunProfile& profile_;
    CheckRunView& view_;
};

RunProfile* g_pumpProfile = nullptr;
EventPump g_timedPump = nullptr;

}  // namespace

void TimedPumpOf(RunProfile& profile) {
    const Clock::time_point start = Clock::now();
    RunProfile::Gap& gap = profile.currentGap_;
    gap.length = start - profile.lastPump_;
    if (gap.length > profile.longestGap_.length) {
        gap.within.clear();
        for (const char* name : profile.open_) gap.within.append(gap.within.empty() ? "" : " > ").append(name);
        profile.longestGap_ = gap;
    }
    {
        const RunProfile::Scope scope(profile, "pump");
        if (g_timedPump) g_timedPump();
    }
    gap.steps.clear();
    profile.lastPump_ = Clock::now();
}

namespace {

void TimedPump() {
    if (g_pumpProfile) TimedPumpOf(*g_pumpProfile);
}

}  // namespace

RunProfile::PumpTimer::PumpTimer(RunProfile& profile)
    : previousProfile_(g_pumpProfile), previousTimed_(g_timedPump) {
    g_pumpProfile = &profile;
    g_timedPump = SetEventPump(&TimedPump);
}

RunProfile::PumpTimer::~PumpTimer() {
    SetEventPump(g_timedPump);
    g_pumpProfile = previousProfile_;
    g_timedPump = previousTimed_;
}

RunProfile::RunProfile() = default;
RunProfile::~RunProfile() = default;

RunProfile::Scope::Scope(RunProfile& profile, const char* name)
    : profile_(profile), name_(name), step_(profile.steps_[name]), start_(Clock::now()), outer_(profile.inner_) {
    profile_.inner_ = &inner_;
    profile_.open_.push_back(name);
}

RunProfile::Scope::~Scope() {
    const Clock::duration elapsed = Clock::now() - start_;
    ++step_.calls;
    step_.own += elapsed - inner_;
    step_.longest = std::max(step_.longest, elapsed - inner_);
    // Only the outermost steps: what is inside them is in their time.
    if (!outer_) profile_.currentGap_.steps.emplace_back(name_, elapsed);
    profile_.open_.pop_back();
    if (outer_) *outer_ += elapsed;
    profile_.inner_ = outer_;
}

CheckRunPlatform RunProfile::Wrap(CheckRunPlatform platform) {
    Time(*this, "download: checklist", platform.downloadFile);
    Time(*this, "unpack: checklist", platform.unpackChecklist);
    Time(*this, "file: replace", platform.replaceFile);
    Time(*this, "file: clear attributes", platform.makeNormal);
    Time(*this, "file: create empty", platform.createEmptyFile);
    Time(*this, "file: create folder", platform.createFolder);
    Time(*this, "file: remove", platform.removeFile);
    Time(*this, "lower case", platform.lowerCase);
    // The engine's services run on its own threads and are not timed here; the run's waits for
    // them are, under their own names ("wait: check", "wait: download", "wait: unpack").
    platform.timed = [this](const char* name, const std::function<void()>& work) {
        const Scope scope(*this, name);
        work();
    };
    return platform;
}

std::unique_ptr<CheckRunView> RunProfile::Wrap(CheckRunView& view) { return std::make_unique<TimedView>(*this, view); }

std::unique_ptr<RunProfile::PumpTimer> RunProfile::TimePumps() { return std::make_unique<PumpTimer>(*this); }

std::string RunProfile::Report(Clock::duration total) const {
    using Ms = std::chrono::duration<double, std::milli>;
    std::vector<std::pair<std::string, Step>> rows(steps_.begin(), steps_.end());
    Clock::duration accounted{};
    for (const auto& row : rows) accounted += row.second.own;
    rows.emplace_back("the run itself", Step{1, total - accounted, total - accounted});
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.second.own > b.second.own; });
    const double totalMs = std::max(Ms(total).count(), 1e-9);
    std::string report;
    char line[200];
    std::snprintf(line, sizeof line, "%-24s %8s %10s %12s %9s %7s\n", "step", "calls", "own ms", "us per call",
                  "max ms", "share");
    report += line;
    for (const auto& [name, step] : rows) {
        const double ms = Ms(step.own).count();
        const double perCall = step.calls > 0 ? ms * 1000.0 / static_cast<double>(step.calls) : 0.0;
        std::snprintf(line, sizeof line, "%-24s %8lld %10.1f %12.1f %9.1f %6.1f%%\n", name.c_str(),
                      static_cast<long long>(step.calls), ms, perCall, Ms(step.longest).count(),
                      100.0 * ms / totalMs);
        report += line;
    }
    std::snprintf(line, sizeof line, "longest stretch without a pump: %.1f ms, within: %s; steps that ended in it:\n",
                  Ms(longestGap_.length).count(), longestGap_.within.empty() ? "-" : longestGap_.within.c_str());
    report += line;
    for (const auto& [name, took] : longestGap_.steps) {
        std::snprintf(line, sizeof line, "  %-22s %9.1f ms\n", name.c_str(), Ms(took).count());
        report += line;
    }
    return report;
}

}  // namespace orv
