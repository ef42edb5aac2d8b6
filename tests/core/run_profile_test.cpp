// The run's profile: each step counted and timed by its own time, so that a step that pumps (a
// download, a checksum) is not charged for the pumps inside it and the steps add up to the run.
#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "launcher/base/events.h"
#include "launcher/integrity/run_profile.h"

namespace orv {
namespace {

using Clock = RunProfile::Clock;
using namespace std::chrono_literals;

// Spins until `span` has passed: the profile reads the same clock, so this is what it sees.
void Spend(Clock::duration span) {
    const Clock::time_point until = Clock::now() + span;
    while (Clock::now() < until) {
    }
}

void SlowPump() { Spend(8ms); }

TEST(RunProfileTest, NestedStepsAreChargedToThemselvesAndTheRestIsTheRunItself) {
    RunProfile profile;
    CheckRunPlatform platform;
    const auto check = [] {
        Spend(12ms);
        PumpEvents();  // as a wait for the engine does while it waits
        PumpEvents();
    };
    platform.makeNormal = [](const std::string&) {};
    const EventPump previous = SetEventPump(&SlowPump);
    const auto started = Clock::now();
    {
        const auto timer = profile.TimePumps();
        const CheckRunPlatform timed = profile.Wrap(std::move(platform));
        EXPECT_FALSE(timed.replaceFile) << "a service that was not there stays absent";
        timed.timed("wait: check", check);
        timed.makeNormal("a");
        timed.makeNormal("b");
        Spend(3ms);  // the run's own work between its steps
    }
    const Clock::duration total = Clock::now() - started;
    EXPECT_EQ(SetEventPump(previous), &SlowPump) << "the pump is given back when the timer goes";

    const auto& steps = profile.Steps();
    ASSERT_EQ(steps.count("wait: check"), 1u);
    ASSERT_EQ(steps.count("pump"), 1u);
    const RunProfile::Step crc = steps.at("wait: check");
    const RunProfile::Step pump = steps.at("pump");
    EXPECT_EQ(crc.calls, 1);
    EXPECT_EQ(pump.calls, 2);
    EXPECT_EQ(steps.at("file: clear attributes").calls, 2);
    // Own times: the wait's 12 ms without the pumps' 16 ms inside it.
    EXPECT_GE(crc.own, 12ms);
    EXPECT_LT(crc.own, 24ms) << "the pumps inside it would make it 28 ms or more";
    EXPECT_GE(pump.own, 16ms);

    const std::string report = profile.Report(total);
    const size_t pumpLine = report.find("\npump ");
    const size_t crcLine = report.find("\nwait: check ");
    const size_t runLine = report.find("\nthe run itself ");
    ASSERT_NE(pumpLine, std::string::npos) << report;
    ASSERT_NE(crcLine, std::string::npos) << report;
    ASSERT_NE(runLine, std::string::npos) << report;
    EXPECT_LT(pumpLine, crcLine) << "largest own time first:\n" << report;
    EXPECT_LT(crcLine, runLine) << report;
}

TEST(RunProfileTest, LongestStretchWithoutAPumpNamesTheStepsThatFilledIt) {
    RunProfile profile;
    CheckRunPlatform platform;
    platform.makeNormal = [](const std::string&) { Spend(15ms); };
    const auto check = [] {
        PumpEvents();
        Spend(2ms);
        PumpEvents();
    };
    const EventPump previous = SetEventPump(&SlowPump);
    {
        const auto timer = profile.TimePumps();
        const CheckRunPlatform timed = profile.Wrap(std::move(platform));
        timed.timed("wait: check", check);
        timed.makeNormal("a");
        timed.makeNormal("b");
        timed.timed("wait: check", check);  // its first pump ends the stretch of the two steps
    }
    SetEventPump(previous);

    const RunProfile::Gap& gap = profile.LongestGap();
    EXPECT_GE(gap.length, 30ms);
    ASSERT_EQ(gap.steps.size(), 3u);
    EXPECT_EQ(gap.steps[1].first, "file: clear attributes");
    EXPECT_EQ(gap.steps[2].first, "file: clear attributes");
    EXPECT_GE(gap.steps[2].second, 15ms);
    EXPECT_EQ(gap.within, "wait: check");
    EXPECT_NE(profile.Report(1s).find("longest stretch without a pump"), std::string::npos);
}

}  // namespace
}  // namespace orv
