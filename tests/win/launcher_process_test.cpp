// The real Orvanta.exe, started as the player starts it, in a game folder of its own: a second
// launcher gives way with the already-running message. (A connect link, which skips the guard and
// ends the running launchers, is driven end to end against a real server.)
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "launcher/base/texts.h"
#include "launcher/platform/wide_win.h"
#include "support/test_files.h"
#include "tools/ui_driver/ui_driver_win.h"

namespace orv {
namespace {

using namespace std::chrono_literals;
using test::ChildProcess;

constexpr auto kWindowTimeout = 10s;

bool HasText(HWND dialog, const std::string& text) {
    const auto texts = test::ControlTexts(dialog);
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

// One launcher runs for the whole suite in its own game folder; each test starts a second one.
class LauncherProcessTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = std::make_unique<test::TempDir>();
        exe_ = folder_->File("Orvanta.exe");
        const std::string source = test::LauncherUnderTest();
        if (!::CopyFileW(Wide(source).c_str(), Wide(exe_).c_str(), FALSE)) {
            setupError_ = "cannot copy " + source;
            return;
        }
        first_ = std::make_unique<ChildProcess>(exe_, "", folder_->Path());
        // Nothing answers at the update server's address: the start says so first.
        const HWND offline = test::WaitForWindow([] { return test::FindDialogOf(first_->Id()); }, kWindowTimeout);
        if (!offline || !test::PressButton(offline, IDOK)) {
            setupError_ = "the first launcher showed no offline message";
            return;
        }
        firstWindow_ = test::WaitForWindow([] { return test::FindWindowOf(first_->Id(), "TForm1"); }, kWindowTimeout);
        if (!firstWindow_) setupError_ = "the first launcher showed no main window";
    }
    static void TearDownTestSuite() {
        first_.reset();
        folder_.reset();
    }
    void SetUp() override {
        ASSERT_TRUE(setupError_.empty()) << setupError_;
        ASSERT_TRUE(first_->Running());
    }
    void TearDown() override {
        // The first launcher is left as it was: running, with its main window.
        EXPECT_TRUE(first_->Running());
        EXPECT_TRUE(::IsWindow(firstWindow_));
    }

    // Starts a second launcher that must refuse to run: its box shows the Russian message under
    // the application title, OK ends it with exit code 0, and it never makes a main window.
    static void ExpectRefused(const std::string& arguments) {
        ChildProcess second(exe_, arguments, folder_->Path());
        HWND box = test::WaitForWindow([&] { return test::FindDialogOf(second.Id()); }, kWindowTimeout);
        ASSERT_NE(box, nullptr) << "no message box for arguments '" << arguments << "'";
        EXPECT_EQ(test::TextOf(box), "Orvanta");
        EXPECT_TRUE(HasText(box, TextIn(TextId::AlreadyRunning, 0)))
            << ::testing::PrintToString(test::ControlTexts(box));
        EXPECT_EQ(test::FindWindowOf(second.Id(), "TForm1"), nullptr);
        ASSERT_TRUE(test::PressButton(box, IDOK));
        const auto code = second.WaitForExit(5s);
        ASSERT_TRUE(code.has_value()) << "the second launcher did not end after OK";
        EXPECT_EQ(*code, 0u);
    }

    static std::unique_ptr<test::TempDir> folder_;
    static std::string exe_;
    static std::unique_ptr<ChildProcess> first_;
    static HWND firstWindow_;
    static std::string setupError_;
};

std::unique_ptr<test::TempDir> LauncherProcessTest::folder_;
std::string LauncherProcessTest::exe_;
std::unique_ptr<ChildProcess> LauncherProcessTest::first_;
HWND LauncherProcessTest::firstWindow_ = nullptr;
std::string LauncherProcessTest::setupError_;

TEST_F(LauncherProcessTest, SecondStartWithoutArgumentsShowsAlreadyRunningAndEnds) { ExpectRefused(""); }

TEST_F(LauncherProcessTest, SecondStartWithForceUpdateIsGuardedToo) { ExpectRefused("x forceupdate"); }

TEST_F(LauncherProcessTest, ASingleArgumentIsIgnoredAndTheStartIsGuarded) { ExpectRefused("forceupdate"); }

}  // namespace
}  // namespace orv
