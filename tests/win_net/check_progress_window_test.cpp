// The check run's progress in the real window against nginx: the run sets its texts faster than
// they are painted, and whatever it set last is on screen when a box appears and when it is over.
// Run through tests/rig/with-servers.sh.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "launcher/base/app_state.h"
#include "launcher/base/message_box.h"
#include "win_net/check_run_window_fixture.h"

namespace orv {
namespace {

class CheckProgressWindowTest : public CheckRunWindowTest {
protected:
    // What the window shows at the moment a box appears.
    struct AtBox {
        std::string box, status, counters;
        int overallPosition, overallWidth;
    };
    void TearDown() override {
        if (previous_) SetMessageHandler(previous_);
        CheckRunWindowTest::TearDown();
    }
    // Records the window at each box; the unpack question is answered with Ignore.
    void RecordBoxes() {
        previous_ = SetMessageHandler([this](const MessageRequest& request) {
            const TForm1& f = *form_;
            boxes.push_back({request.text, f.Label4.Text(), f.lbl2.Text(), f.pb2.Position(), f.Image9.Width()});
            return request.flags & mb::AbortRetryIgnore ? MsgResult::Ignore : previous_(request);
        });
    }
    std::vector<AtBox> boxes;

private:
    MessageHandler previous_;
};

TEST_F(CheckProgressWindowTest, EveryBoxFindsTheRunsLatestProgressOnScreen) {
    // An error page for hl2.exe: it downloads, fails to unpack and is skipped.
    test::WriteFile(ServerFile("\\hl2.exe"), "<html><body><h1>502 Bad Gateway</h1></body></html>");
    Start();
    for (const auto& [relative, bytes] : files_) PutGame(relative, bytes);
    PutGame("hl2.exe", "the old copy");
    UiLanguage = UiEnglish;
    RecordBoxes();

    form_->Events.Image_Button_CheckClick();

    ASSERT_EQ(boxes.size(), 2u);
    const AtBox& question = boxes[0];
    EXPECT_EQ(question.box, "Error while unpacking the file, what should I do ??");
    EXPECT_EQ(question.status, "Checks file: \\hl2.exe") << "the file in question";
    // The counters after its download, counting the entries that pb2 counts at that moment.
    EXPECT_EQ(question.counters,
              "Total/Checked/Downloaded files: 6 / " + std::to_string(question.overallPosition) + " / 1");
    EXPECT_EQ(question.overallWidth, OverallProgressWidth(6, question.overallPosition));

    const AtBox& success = boxes[1];
    EXPECT_EQ(success.box, "File checker was successful");
    EXPECT_EQ(success.counters, "Total/Checked/Downloaded files: 6 / 5 / 1") << "the skipped file is not counted";
    EXPECT_EQ(success.overallPosition, 5);
    EXPECT_EQ(success.overallWidth, OverallProgressWidth(6, 5));
    EXPECT_EQ(success.status.rfind("Checks file: \\", 0), 0u) << success.status;

    // Over: the counters line keeps the last text, the rest is idle.
    EXPECT_EQ(form_->lbl2.Text(), success.counters);
    EXPECT_EQ(form_->pb2.Position(), 5);
    ExpectIdle();
}

}  // namespace
}  // namespace orv
