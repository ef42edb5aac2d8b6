#include "launcher/integrity/run_profile.h"

#include <algorithm>
#include <cstdio>
#include <utility>
#include <vector>

namespace orv {
namespace {

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

void TimedPump() {
    if (!g_pumpProfile) return;
    const RunProfile::Scope scope(*g_pumpProfile, "pump");
    if (g_timedPump) g_timedPump();
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
    : profile_(profile), step_(profile.steps_[name]), start_(Clock::now()), outer_(profile.inner_) {
    profile_.inner_ = &inner_;
}

RunProfile::Scope::~Scope() {
    const Clock::duration elapsed = Clock::now() - start_;
    ++step_.calls;
    step_.own += elapsed - inner_;
    if (outer_) *outer_ += elapsed;
    profile_.inner_ = outer_;
}

CheckRunPlatform RunProfile::Wrap(CheckRunPlatform platform) {
    Time(*this, "download: checklist", platform.downloadFile);
    Time(*this, "unpack: checklist", platform.unpackChecklist);
    Time(*this, "download: game file", platform.downloadGameFile);
    Time(*this, "unpack: game file", platform.unpackGameFile);
    Time(*this, "file: replace", platform.replaceFile);
    Time(*this, "file: exists", platform.fileExists);
    Time(*this, "file: clear attributes", platform.makeNormal);
    Time(*this, "file: size", platform.fileSize);
    Time(*this, "file: CRC-32", platform.fileCrc32);
    Time(*this, "file: create empty", platform.createEmptyFile);
    Time(*this, "file: create folder", platform.createFolder);
    Time(*this, "file: remove", platform.removeFile);
    Time(*this, "lower case", platform.lowerCase);
    return platform;
}

std::unique_ptr<CheckRunView> RunProfile::Wrap(CheckRunView& view) { return std::make_unique<TimedView>(*this, view); }

std::unique_ptr<RunProfile::PumpTimer> RunProfile::TimePumps() { return std::make_unique<PumpTimer>(*this); }

std::string RunProfile::Report(Clock::duration total) const {
    using Ms = std::chrono::duration<double, std::milli>;
    std::vector<std::pair<std::string, Step>> rows(steps_.begin(), steps_.end());
    Clock::duration accounted{};
    for (const auto& row : rows) accounted += row.second.own;
    rows.emplace_back("the run itself", Step{1, total - accounted});
    std::stable_sort(rows.begin(), rows.end(), [](const auto& a, const auto& b) { return a.second.own > b.second.own; });
    const double totalMs = std::max(Ms(total).count(), 1e-9);
    std::string report;
    char line[200];
    std::snprintf(line, sizeof line, "%-24s %8s %10s %12s %7s\n", "step", "calls", "own ms", "us per call", "share");
    report += line;
    for (const auto& [name, step] : rows) {
        const double ms = Ms(step.own).count();
        const double perCall = step.calls > 0 ? ms * 1000.0 / static_cast<double>(step.calls) : 0.0;
        std::snprintf(line, sizeof line, "%-24s %8lld %10.1f %12.1f %6.1f%%\n", name.c_str(),
                      static_cast<long long>(step.calls), ms, perCall, 100.0 * ms / totalMs);
        report += line;
    }
    return report;
}

}  // namespace orv
