// A display value set many times a second: at most one handover per interval, equal values never
// handed over again, and the latest always on screen after a flush.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "launcher/base/paced_value.h"

namespace orv {
namespace {

using namespace std::chrono_literals;

class PacedValueTest : public ::testing::Test {
protected:
    PacedValue<std::string> MakeText(std::string initial = "") {
        return PacedValue<std::string>([this](const std::string& text) { shown_.push_back(text); }, 30ms,
                                       std::move(initial), [this] { return now_; });
    }
    void Pass(PaceClock::duration span) { now_ += span; }

    PaceClock::time_point now_ = PaceClock::time_point{} + 1h;
    std::vector<std::string> shown_;
};

TEST_F(PacedValueTest, StepsOfOneSetHoldAndShowAsTheirTimeComes) {
    // Each step moves the clock by `after`, then does `what`; `shown` is every handover so far.
    enum class Do { Set, Due, Flush, AtOnce, Adopt };
    struct Step {
        PaceClock::duration after;
        Do what;
        const char* value;
        std::vector<std::string> shown;
        const char* why;
    };
    const Step steps[] = {
        {0ms, Do::Set, "a", {"a"}, "the first value goes at once"},
        {5ms, Do::Set, "b", {"a"}, "too soon: held"},
        {5ms, Do::Set, "c", {"a"}, "still held, and it replaces b"},
        {10ms, Do::Due, "", {"a"}, "20 ms after a: not yet"},
        {10ms, Do::Due, "", {"a", "c"}, "30 ms after a: the held value goes without a new one"},
        {40ms, Do::Set, "c", {"a", "c"}, "equal to the one shown: not handed over again"},
        {0ms, Do::Flush, "", {"a", "c"}, "nothing held, nothing to flush"},
        {1ms, Do::Set, "d", {"a", "c", "d"}, "its time has come"},
        {1ms, Do::Set, "e", {"a", "c", "d"}, "held"},
        {1ms, Do::Set, "d", {"a", "c", "d"}, "back to the one shown: nothing held any more"},
        {30ms, Do::Due, "", {"a", "c", "d"}, "and nothing comes when its time would have come"},
        {0ms, Do::Set, "f", {"a", "c", "d", "f"}, ""},
        {1ms, Do::Set, "g", {"a", "c", "d", "f"}, "held"},
        {1ms, Do::Flush, "", {"a", "c", "d", "f", "g"}, "a flush hands it over before its time"},
        {1ms, Do::Set, "h", {"a", "c", "d", "f", "g"}, "a flush counts as a handover: held"},
        {0ms, Do::AtOnce, "g", {"a", "c", "d", "f", "g", "g"}, "at once even when thought shown"},
        {1ms, Do::Flush, "", {"a", "c", "d", "f", "g", "g"}, "at once drops what was held"},
        {0ms, Do::Adopt, "x", {"a", "c", "d", "f", "g", "g"}, "the control was set past the value"},
        {60ms, Do::Set, "x", {"a", "c", "d", "f", "g", "g"}, "what the control shows is not set again"},
        {0ms, Do::Set, "y", {"a", "c", "d", "f", "g", "g", "y"}, ""},
    };
    PacedValue<std::string> text = MakeText();
    for (const Step& step : steps) {
        Pass(step.after);
        switch (step.what) {
            case Do::Set: text.Set(step.value); break;
            case Do::Due: text.ShowIfDue(); break;
            case Do::Flush: text.Flush(); break;
            case Do::AtOnce: text.ShowAtOnce(step.value); break;
            case Do::Adopt: text.Adopt(step.value); break;
        }
        EXPECT_EQ(shown_, step.shown) << static_cast<int>(step.what) << " " << step.value << ": " << step.why;
    }
}

TEST_F(PacedValueTest, FastTextsReachTheControlOncePerIntervalAndTheLastAfterAFlush) {
    PacedValue<std::string> text = MakeText();
    std::vector<PaceClock::time_point> handovers;
    PacedValue<std::string> timed([&](const std::string&) { handovers.push_back(now_); }, 30ms, "",
                                  [this] { return now_; });
    // A text every millisecond for a second, as a run that checks small files sets its status line.
    for (int i = 0; i < 1000; ++i) {
        Pass(1ms);
        text.Set("file " + std::to_string(i));
        timed.Set("file " + std::to_string(i));
        EXPECT_EQ(text.Latest(), "file " + std::to_string(i));
    }
    EXPECT_LE(shown_.size(), 1000u / 30 + 1);
    EXPECT_GE(shown_.size(), 1000u / 30 - 1) << "the control still follows";
    for (size_t i = 1; i < handovers.size(); ++i) EXPECT_GE(handovers[i] - handovers[i - 1], 30ms) << i;
    ASSERT_TRUE(text.Pending());
    text.Flush();
    EXPECT_EQ(shown_.back(), "file 999");
    EXPECT_FALSE(text.Pending());
    const size_t count = shown_.size();
    text.Flush();
    Pass(1s);
    text.ShowIfDue();
    EXPECT_EQ(shown_.size(), count) << "the last one is shown once";
}

TEST_F(PacedValueTest, AWidthStartsFromItsInitialValue) {
    std::vector<int> widths;
    PacedValue<int> width([&](const int& pixels) { widths.push_back(pixels); }, 30ms, 417, [this] { return now_; });
    EXPECT_EQ(width.Latest(), 417);
    width.Adopt(417);
    width.Set(417);
    EXPECT_TRUE(widths.empty());
    width.Set(12);
    width.Set(40);
    EXPECT_EQ(width.Latest(), 40) << "the run reads back what it set, held or not";
    width.Flush();
    EXPECT_EQ(widths, (std::vector<int>{12, 40}));
}

}  // namespace
}  // namespace orv
