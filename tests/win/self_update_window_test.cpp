// The self-update window in this process: its frame and controls, the procedure its creation
// posts, and the modal result 13 when that procedure fails (no update server answers here).
#include <gtest/gtest.h>

#include "gui_test_support.h"
#include "launcher/base/app_state.h"
#include "launcher/platform/wide_win.h"
#include "launcher/selfupdate/form_self_update_win.h"
#include "launcher/ui/message_loop_win.h"
#include "support/test_files.h"
#include "tools/ui_driver/ui_driver_win.h"

namespace orv {
namespace {

class SelfUpdateWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApplication();
        ResetApplicationTermination();
    }
    void TearDown() override { TypeOfSelfUpdate = 1; }

    test::SimulatedStart start_{test::SimulatedStart::Options::LayoutOnly()};
};

TEST_F(SelfUpdateWindowTest, AFixedWindowWithoutCloseBoxThatOnlyAFailureCloses) {
    const struct {
        int type;
        const char* label;  // what the label last said
    } cases[] = {
        {2, "Идет загрузка обновления для лаунчера"},
        {1, "Идет загрузка установщика обновления для лаунчера"},
        {7, "Идет загрузка установщика обновления для лаунчера"},  // every kind but 2 is the installer
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.type);
        TypeOfSelfUpdate = c.type;
        TForm_SelfUpdate window;
        window.Create(nullptr);
        EXPECT_EQ(Form_SelfUpdate, &window);
        const SIZE client = window.ClientSize();
        EXPECT_EQ(client.cx, 506);
        EXPECT_EQ(client.cy, 156);
        const LONG_PTR style = ::GetWindowLongPtrW(window.Handle(), GWL_STYLE);
        EXPECT_FALSE(style & WS_SYSMENU);
        EXPECT_FALSE(style & WS_THICKFRAME);
        LOGFONTW font{};
        ::GetObjectW(window.Font(), sizeof(font), &font);
        EXPECT_EQ(std::wstring(font.lfFaceName), L"Tahoma");
        EXPECT_EQ(font.lfHeight, -11);
        EXPECT_EQ(test::TextOf(window.Label_SelfUpdate.ControlHandle()), "");
        // Closing it from outside does nothing; the procedure has not run yet.
        window.Close();
        EXPECT_TRUE(window.HandleAllocated());

        RestartAfterUpdate = true;
        EXPECT_EQ(window.ShowModal(), 13);
        EXPECT_FALSE(window.Visible());
        EXPECT_EQ(window.Label_SelfUpdate.Text(), c.label);
        EXPECT_EQ(RestartAfterUpdate, c.type != 2) << "only the direct path's failure clears the restart";
        RestartAfterUpdate = false;
        EXPECT_FALSE(ApplicationTerminated());
        EXPECT_FALSE(test::Exists(start_.File("upt.exe.lzma")));
    }
    EXPECT_EQ(Form_SelfUpdate, nullptr);
}

TEST_F(SelfUpdateWindowTest, TheLabelDrawsInTheWindowsTahomaElevenAndKeepsItsSize) {
    TForm_SelfUpdate window;
    window.Create(nullptr);
    const HWND label = window.Label_SelfUpdate.ControlHandle();
    const auto font = reinterpret_cast<HFONT>(::SendMessageW(label, WM_GETFONT, 0, 0));
    ASSERT_NE(font, nullptr) << "the system font";
    LOGFONTW lf{};
    ASSERT_NE(::GetObjectW(font, sizeof(lf), &lf), 0);
    EXPECT_EQ(std::wstring(lf.lfFaceName), L"Tahoma");
    EXPECT_EQ(lf.lfHeight, -11);
    EXPECT_EQ(font, window.Font());
    // Centred in its fixed place, whatever it says.
    for (const char* text : {"", "Идет распаковка установщика обновления для лаунчера", "x"}) {
        window.Label_SelfUpdate.SetText(text);
        const RECT b = window.Label_SelfUpdate.Bounds();
        const RECT expected{44, 88, 44 + 417, 88 + 19};
        EXPECT_TRUE(::EqualRect(&b, &expected)) << text;
    }
}

}  // namespace
}  // namespace orv
