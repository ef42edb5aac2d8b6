// The Win32 handler of the message-box seam, with real boxes: a helper thread reads the box the way
// a player sees it and answers it.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>

#include "gui_test_support.h"
#include "launcher/base/app_state.h"
#include "launcher/base/message_box.h"
#include "launcher/ui/message_box_win.h"
#include "tools/ui_driver/ui_driver_win.h"

namespace orv {
namespace {

using namespace std::chrono_literals;

struct SeenBox {
    std::string caption;
    std::vector<std::string> texts;
    bool found = false;
};

// Waits for this process's box, reads it and presses `button`.
std::future<SeenBox> AnswerBox(int button) {
    return std::async(std::launch::async, [button] {
        SeenBox seen;
        HWND box = test::WaitForWindow([] { return test::FindDialogOf(::GetCurrentProcessId()); }, 5000ms);
        if (!box) return seen;
        seen.found = true;
        seen.caption = test::TextOf(box);
        seen.texts = test::ControlTexts(box);
        test::PressButton(box, button);
        return seen;
    });
}

bool Contains(const std::vector<std::string>& texts, const std::string& text) {
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class Win32MessageBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApplication();
        previous_ = SetMessageHandler(&Win32MessageBox);
    }
    void TearDown() override { SetMessageHandler(previous_); }
    MessageHandler previous_;
};

TEST_F(Win32MessageBoxTest, ErrorBoxShowsUnicodeTextWithAFullStopUnderTheTitle) {
    auto answer = AnswerBox(IDOK);
    ShowErrorBox("Не удалось записать файл");
    const SeenBox seen = answer.get();
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(seen.caption, ApplicationTitle);
    EXPECT_TRUE(Contains(seen.texts, "Не удалось записать файл.")) << ::testing::PrintToString(seen.texts);
}

TEST_F(Win32MessageBoxTest, ButtonsFollowTheFlagsAndTheAnswerComesBack) {
    auto answer = AnswerBox(IDNO);
    const MsgResult result = ShowMessageBox({"Обновить игру?", "Вопрос", mb::YesNo | mb::IconQuestion, nullptr});
    const SeenBox seen = answer.get();
    ASSERT_TRUE(seen.found);
    EXPECT_EQ(result, MsgResult::No);
    EXPECT_EQ(seen.caption, "Вопрос");
    EXPECT_TRUE(Contains(seen.texts, "Обновить игру?"));
}

TEST_F(Win32MessageBoxTest, AnOwnerThatIsGoneDoesNotSwallowTheBox) {
    HWND gone = ::CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(gone, nullptr);
    ::DestroyWindow(gone);
    auto answer = AnswerBox(IDOK);
    EXPECT_EQ(ShowMessageBox({"text", "caption", mb::Ok, gone}), MsgResult::Ok);
    EXPECT_TRUE(answer.get().found);
}

}  // namespace
}  // namespace orv
