// Labels of the main and the settings window in this process: the ones sized to their text take
// the extent the platform gives that text in the label's own font (GetTextExtentPoint32W), again
// after every change of text, language or font; the status lines keep the size their layout gives.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "game_profile.h"
#include "gui_test_support.h"
#include "launcher/base/app_state.h"
#include "launcher/main_window/main_window_win.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"
#include "launcher/ui/message_loop_win.h"
#include "launcher/windows/form_settings_win.h"

namespace orv {
namespace {

HFONT FontOf(const Control& label) {
    return reinterpret_cast<HFONT>(::SendMessageW(label.ControlHandle(), WM_GETFONT, 0, 0));
}

// One line of `text` in the font the label reports.
SIZE Extent(const Control& label, const std::string& text) {
    const std::wstring wide = Wide(text);
    SIZE size{};
    const WindowDc screen(nullptr);
    const SelectObjectScope font(screen.Get(), FontOf(label));
    EXPECT_TRUE(::GetTextExtentPoint32W(screen.Get(), wide.c_str(), static_cast<int>(wide.size()), &size));
    return size;
}

SIZE SizeOf(const Control& control) {
    const RECT b = control.Bounds();
    return SIZE{b.right - b.left, b.bottom - b.top};
}

LONG WeightOf(HFONT font) {
    LOGFONTW lf{};
    return ::GetObjectW(font, sizeof(lf), &lf) ? lf.lfWeight : -1;
}

class LabelSizeTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApplication();
        ResetApplicationTermination();
        main_.Create();
        settings_.Create(main_.Handle());
    }
    void TearDown() override { UiLanguage = UiRussian; }

    test::SimulatedStart start_{test::SimulatedStart::Options::LayoutOnly()};
    TForm1 main_;
    TForm_Settings settings_;
};

TEST_F(LabelSizeTest, LabelsSizedToTheirTextTakeItsExtentInEitherLanguage) {
    const struct {
        const LabelControl& label;
        POINT at;
        bool bold;  // the main window's captions are bold; the settings window's use its font
    } labels[] = {
        {main_.Label_GameName, {23, 391}, true},
        {main_.Label_GameVersion, {23, 435}, true},
        {main_.Label_Nickname, {307, 391}, true},
        {main_.Label_Clantag, {307, 435}, true},
        {settings_.Label_RunOptions, {38, 99}, false},
        {settings_.Label_ChangeCompetitiveRank, {44, -17}, false},
        {settings_.Label_ChangePrivateRank, {251, -18}, false},
    };
    for (const char* language : {"English", "Russian"}) {
        // The main window's translation reaches the settings window too.
        main_.menu(language);
        for (const auto& row : labels) {
            SCOPED_TRACE(std::string(language) + " " + row.label.Name() + ": " + row.label.Text());
            ASSERT_FALSE(row.label.Text().empty());
            const RECT b = row.label.Bounds();
            EXPECT_EQ(b.left, row.at.x);
            EXPECT_EQ(b.top, row.at.y);
            const SIZE extent = Extent(row.label, row.label.Text());
            EXPECT_EQ(SizeOf(row.label).cx, extent.cx);
            EXPECT_EQ(SizeOf(row.label).cy, extent.cy);
            EXPECT_EQ(WeightOf(FontOf(row.label)), row.bold ? FW_BOLD : FW_NORMAL);
        }
        // The run options' caption carries the whole command prefix, uncut, inside its window.
        const LabelControl& runOptions = settings_.Label_RunOptions;
        EXPECT_NE(runOptions.Text().find(std::string("(") + GameCommandPrefix + ")"), std::string::npos);
        EXPECT_GT(SizeOf(runOptions).cx, 204);
        EXPECT_EQ(FontOf(runOptions), settings_.Font());
        EXPECT_LE(runOptions.Bounds().right, settings_.ClientSize().cx);
    }
}

TEST_F(LabelSizeTest, ANewFontOrTextIsMeasuredAgainAndTheStatusLinesKeepTheirSize) {
    UiLanguage = UiEnglish;
    settings_.translate();
    LabelControl& label = settings_.Label_RunOptions;
    const HFONT windowFont = FontOf(label);
    const SIZE before = SizeOf(label);
    {
        const ScopedFont large(::CreateFontW(-20, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0,
                                             L"Tahoma"));
        ASSERT_TRUE(large.Valid());
        ::SendMessageW(label.ControlHandle(), WM_SETFONT, reinterpret_cast<WPARAM>(large.Get()), TRUE);
        EXPECT_EQ(FontOf(label), large.Get());
        const SIZE extent = Extent(label, label.Text());
        EXPECT_EQ(SizeOf(label).cx, extent.cx);
        EXPECT_EQ(SizeOf(label).cy, extent.cy);
        EXPECT_GT(extent.cx, before.cx);
        // Back to the window's font before the large one goes.
        ::SendMessageW(label.ControlHandle(), WM_SETFONT, reinterpret_cast<WPARAM>(windowFont), FALSE);
    }
    EXPECT_EQ(SizeOf(label).cx, before.cx);
    EXPECT_EQ(SizeOf(label).cy, before.cy);

    // A new text; no text keeps the height of a line and no width.
    label.SetText("Run");
    EXPECT_EQ(SizeOf(label).cx, Extent(label, "Run").cx);
    label.SetText("");
    EXPECT_EQ(SizeOf(label).cx, 0);
    EXPECT_EQ(SizeOf(label).cy, Extent(label, " ").cy);
    settings_.translate();
    EXPECT_EQ(SizeOf(label).cx, before.cx);

    // The check run's status lines keep their place and size whatever they show, in any font.
    const std::string longLine(200, 'W');
    const ScopedFont large(::CreateFontW(-20, 0, 0, 0, FW_BOLD, FALSE, FALSE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0,
                                         L"Tahoma"));
    const struct {
        LabelControl& label;
        SIZE size;
    } fixed[] = {{main_.lbl2, {417, 27}}, {main_.Label4, {418, 17}}};
    for (const auto& row : fixed) {
        SCOPED_TRACE(row.label.Name());
        const HFONT own = FontOf(row.label);
        for (const char* text : {"", "x", longLine.c_str()}) {
            row.label.SetText(text);
            EXPECT_EQ(SizeOf(row.label).cx, row.size.cx) << text;
            EXPECT_EQ(SizeOf(row.label).cy, row.size.cy) << text;
        }
        ::SendMessageW(row.label.ControlHandle(), WM_SETFONT, reinterpret_cast<WPARAM>(large.Get()), TRUE);
        EXPECT_EQ(SizeOf(row.label).cx, row.size.cx);
        ::SendMessageW(row.label.ControlHandle(), WM_SETFONT, reinterpret_cast<WPARAM>(own), FALSE);
        row.label.SetText("");
    }
    EXPECT_TRUE(start_.state.messages.empty());
}

}  // namespace
}  // namespace orv
