// The window base and the two skeleton windows, in this process: sizes, borders, captions,
// placement, modal runs, the event loop's end, and errors escaping handlers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <thread>
#include <vector>

#include "gui_test_support.h"
#include "launcher/app_win.h"
#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/main_window/main_window_win.h"
#include "launcher/platform/wide_win.h"
#include "launcher/ui/gui_thread_win.h"
#include "launcher/ui/message_loop_win.h"
#include "launcher/windows/form_change_avatar_win.h"
#include "launcher/windows/form_settings_win.h"
#include "tools/ui_driver/ui_driver_win.h"

namespace orv {
namespace {

using test::RecordedMessages;

LONG_PTR StyleOf(HWND hwnd) { return ::GetWindowLongPtrW(hwnd, GWL_STYLE); }

POINT CentreOf(const RECT& r) { return POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

RECT WorkArea(HWND hwnd) {
    MONITORINFO info{};
    info.cbSize = sizeof(info);
    ::GetMonitorInfoW(::MonitorFromWindow(hwnd, MONITOR_DEFAULTTONEAREST), &info);
    return info.rcWork;
}

class WindowsTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApplication();
        ResetApplicationTermination();
    }
    void TearDown() override { UiLanguage = UiRussian; }

    // Shows `main` away from the screen's centre, so that "over the main window" differs from "on
    // the screen".
    static void ShowOffCentre(TForm1& main, int left, int top) {
        main.Create();
        main.Show();
        ::SetWindowPos(main.Handle(), nullptr, left, top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    static void ExpectCentredOver(const RECT& frame, HWND other) {
        RECT otherFrame{};
        ::GetWindowRect(other, &otherFrame);
        EXPECT_LE(std::abs(CentreOf(frame).x - CentreOf(otherFrame).x), 1);
        EXPECT_LE(std::abs(CentreOf(frame).y - CentreOf(otherFrame).y), 1);
    }

    // The windows as their layout makes them, in a game folder of their own.
    test::SimulatedStart start_{test::SimulatedStart::Options::LayoutOnly()};
};

TEST_F(WindowsTest, MainWindowIsAFixedCentredWindowCaptionedOrvanta) {
    RecordedMessages messages;
    {
        TForm1 form;
        form.Create();
        const HWND hwnd = form.Handle();
        ASSERT_NE(hwnd, nullptr);
        EXPECT_EQ(MainWindowHandle, hwnd);
        EXPECT_EQ(Form1, &form);

        const SIZE client = form.ClientSize();
        EXPECT_EQ(client.cx, 700);
        EXPECT_EQ(client.cy, 560);
        const LONG_PTR style = StyleOf(hwnd);
        EXPECT_TRUE(style & WS_CAPTION);
        EXPECT_TRUE(style & WS_SYSMENU);
        EXPECT_TRUE(style & WS_MINIMIZEBOX);
        EXPECT_FALSE(style & WS_MAXIMIZEBOX);
        EXPECT_FALSE(style & WS_THICKFRAME);
        EXPECT_EQ(form.Caption(), "Orvanta");
        EXPECT_EQ(test::ClassNameOf(hwnd), "TForm1");

        // Created hidden; the event loop shows it.
        EXPECT_FALSE(form.Visible());
        form.Show();
        EXPECT_TRUE(form.Visible());
        RECT frame{};
        ::GetWindowRect(hwnd, &frame);
        const POINT centre = CentreOf(frame);
        const POINT workCentre = CentreOf(WorkArea(hwnd));
        EXPECT_LE(std::abs(centre.x - workCentre.x), 1);
        EXPECT_LE(std::abs(centre.y - workCentre.y), 1);
    }
    EXPECT_EQ(MainWindowHandle, nullptr);
    EXPECT_EQ(Form1, nullptr);
    EXPECT_TRUE(messages.Seen().empty());
}

TEST_F(WindowsTest, SettingsWindowIsHiddenOwnedAndHasOnlyTheCloseBox) {
    RecordedMessages messages;
    TForm1 main;
    main.Create();
    TForm_Settings settings;
    settings.Create(main.Handle());
    const HWND hwnd = settings.Handle();
    ASSERT_NE(hwnd, nullptr);
    EXPECT_EQ(Form_Settings, &settings);

    const SIZE client = settings.ClientSize();
    EXPECT_EQ(client.cx, 410);
    EXPECT_EQ(client.cy, 200);
    const LONG_PTR style = StyleOf(hwnd);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_FALSE(style & WS_MINIMIZEBOX);
    EXPECT_FALSE(style & WS_MAXIMIZEBOX);
    EXPECT_FALSE(style & WS_THICKFRAME);
    EXPECT_FALSE(settings.Visible());
    EXPECT_EQ(::GetWindow(hwnd, GW_OWNER), main.Handle());
    EXPECT_EQ(settings.Caption(), "Настройки");

    LOGFONTW font{};
    ASSERT_NE(::GetObjectW(settings.Font(), sizeof(font), &font), 0);
    EXPECT_STREQ(font.lfFaceName, L"Tahoma");
    const HDC screen = ::GetDC(nullptr);
    EXPECT_EQ(font.lfHeight, -::MulDiv(8, ::GetDeviceCaps(screen, LOGPIXELSY), 72));
    ::ReleaseDC(nullptr, screen);

    UiLanguage = UiEnglish;
    settings.translate();
    EXPECT_EQ(settings.Caption(), "Settings");
    UiLanguage = UiRussian;
    settings.translate();
    EXPECT_EQ(settings.Caption(), "Настройки");
    EXPECT_TRUE(messages.Seen().empty());
}

TEST_F(WindowsTest, SettingsOpenModallyCentredOverTheMainWindowAndReturnTheirResult) {
    RecordedMessages messages;
    TForm1 main;
    ShowOffCentre(main, 10, 20);
    TForm_Settings settings;
    settings.Create(main.Handle());

    bool ownerDisabledWhileOpen = false;
    RECT openedAt{};
    PostToGuiThread([&] {
        ownerDisabledWhileOpen = !::IsWindowEnabled(main.Handle());
        ::GetWindowRect(settings.Handle(), &openedAt);
        ::PostMessageW(settings.Handle(), WM_CLOSE, 0, 0);
    });
    EXPECT_EQ(settings.ShowModal(), mr::Cancel);
    EXPECT_TRUE(ownerDisabledWhileOpen);
    EXPECT_TRUE(::IsWindowEnabled(main.Handle()));
    EXPECT_FALSE(settings.Visible());
    // Closed through the close box, the window is kept for the next opening.
    EXPECT_TRUE(settings.HandleAllocated());
    ExpectCentredOver(openedAt, main.Handle());

    PostToGuiThread([&] { settings.SetModalResult(13); });
    EXPECT_EQ(settings.ShowModal(), 13);
    EXPECT_FALSE(settings.Visible());
    EXPECT_THROW(
        {
            settings.Show();
            settings.ShowModal();
        },
        Error);
    settings.Hide();
    EXPECT_TRUE(messages.Seen().empty());
}

TEST_F(WindowsTest, TheAvatarWindowOpensCentredOverTheMainWindowNotOverItsOwner) {
    RecordedMessages messages;
    TForm1 main;
    ShowOffCentre(main, 30, 40);
    TForm_Settings settings;
    settings.Create(main.Handle());
    // Every opening: the settings window moved away from the main window's centre each time.
    const POINT settingsAt[] = {{500, 300}, {5, 600}};
    std::vector<RECT> openedAt;
    PostToGuiThread([&] {
        for (const POINT& at : settingsAt) {
            ::SetWindowPos(settings.Handle(), nullptr, at.x, at.y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            PostToGuiThread([&] {
                TForm_ChangeAvatar* avatar = settings.AvatarWindow();
                if (!avatar) return;
                EXPECT_EQ(::GetWindow(avatar->Handle(), GW_OWNER), settings.Handle());
                RECT r{};
                ::GetWindowRect(avatar->Handle(), &r);
                openedAt.push_back(r);
                avatar->Close();
            });
            settings.Button_ChangeAvatarClick();
        }
        settings.Close();
    });
    settings.ShowModal();
    ASSERT_EQ(openedAt.size(), 2u);
    for (const RECT& r : openedAt) ExpectCentredOver(r, main.Handle());
    RECT mainFrame{}, settingsFrame{};
    ::GetWindowRect(main.Handle(), &mainFrame);
    ::GetWindowRect(settings.Handle(), &settingsFrame);
    EXPECT_GT(std::abs(CentreOf(settingsFrame).x - CentreOf(mainFrame).x), 50) << "the owner lies elsewhere";
    EXPECT_TRUE(messages.Seen().empty());
}

TEST_F(WindowsTest, ClosingTheMainWindowEndsTheEventLoop) {
    RecordedMessages messages;
    TForm1 main;
    main.Create();
    TForm_Settings settings;
    settings.Create(main.Handle());
    bool shownInLoop = false;
    PostToGuiThread([&] {
        shownInLoop = main.Visible();
        main.Close();
    });
    // A loop that never ends would hang the suite: give up after a while and say so.
    static bool timedOut;
    timedOut = false;
    const UINT_PTR watchdog = ::SetTimer(nullptr, 0, 5000, [](HWND, UINT, UINT_PTR, DWORD) {
        timedOut = true;
        TerminateApplication();
    });
    RunApplication(main);
    ::KillTimer(nullptr, watchdog);
    EXPECT_FALSE(timedOut);
    EXPECT_TRUE(shownInLoop);
    EXPECT_FALSE(main.HandleAllocated());
    // The owned settings window goes with it.
    EXPECT_FALSE(settings.HandleAllocated());
    EXPECT_EQ(MainWindowHandle, nullptr);
    EXPECT_TRUE(ApplicationTerminated());
    EXPECT_TRUE(messages.Seen().empty());
}

TEST_F(WindowsTest, TerminationBeforeTheLoopShowsNothing) {
    TForm1 main;
    main.Create();
    TerminateApplication();
    RunApplication(main);
    EXPECT_FALSE(main.Visible());
}

// A window whose handlers fail in the ways the launcher's handlers can.
class FailingWindow : public Window {
public:
    static constexpr UINT kThrowOsError = WM_APP + 10;
    static constexpr UINT kThrowNonStandard = WM_APP + 11;

    explicit FailingWindow(bool failOnCreate = false, bool failOnShow = false, bool failOnPaint = false)
        : Window(kDesc), failOnCreate_(failOnCreate), failOnShow_(failOnShow), failOnPaint_(failOnPaint) {}
    ~FailingWindow() override { DestroyHandle(); }
    void Create() { CreateHandle(); }
    int paints = 0;

protected:
    void OnCreate() override {
        if (failOnCreate_) throw EOSError(5, "Access is denied");
    }
    void OnShow() override {
        if (failOnShow_) throw std::runtime_error("show failed.");
    }
    void OnPaint(HDC dc, const RECT& client) override {
        ++paints;
        Window::OnPaint(dc, client);
        if (failOnPaint_) throw std::runtime_error("paint failed");
    }
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override {
        if (msg == kThrowOsError) throw EOSError(32, "The process cannot access the file");
        if (msg == kThrowNonStandard) throw 42;
        return Window::HandleMessage(msg, wParam, lParam);
    }

private:
    static constexpr WindowDesc kDesc = {L"OrvantaTest.Failing", WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU, 0, 200, 100,
                                         "failing", WindowPosition::ScreenCenter, true};
    bool failOnCreate_, failOnShow_, failOnPaint_;
};

TEST_F(WindowsTest, ErrorsEscapingHandlersReachTheErrorBoxAndTheWindowStays) {
    RecordedMessages messages;
    FailingWindow window;
    window.Create();
    ASSERT_TRUE(window.HandleAllocated());
    EXPECT_EQ(::SendMessageW(window.Handle(), FailingWindow::kThrowOsError, 0, 0), 0);
    EXPECT_EQ(::SendMessageW(window.Handle(), FailingWindow::kThrowNonStandard, 0, 0), 0);
    ASSERT_EQ(messages.Seen().size(), 2u);
    EXPECT_EQ(messages.Seen()[0].text, "The process cannot access the file.");
    EXPECT_EQ(messages.Seen()[0].flags, mb::Ok | mb::IconError);
    EXPECT_EQ(messages.Seen()[0].caption, ApplicationTitle);
    EXPECT_EQ(messages.Seen()[1].text, "Unknown error.");
    EXPECT_TRUE(::IsWindow(window.Handle()));
    // The window still answers messages afterwards.
    EXPECT_EQ(::SendMessageW(window.Handle(), WM_GETTEXTLENGTH, 0, 0), 7);
}

TEST_F(WindowsTest, FailedCreateAndShowHandlersStillLeaveAUsableWindow) {
    RecordedMessages messages;
    FailingWindow window(/*failOnCreate=*/true, /*failOnShow=*/true);
    window.Create();
    EXPECT_TRUE(window.HandleAllocated());
    window.Show();
    EXPECT_TRUE(window.Visible());
    ASSERT_EQ(messages.Seen().size(), 2u);
    EXPECT_EQ(messages.Seen()[0].text, "Access is denied.");
    EXPECT_EQ(messages.Seen()[1].text, "show failed.");
}

TEST_F(WindowsTest, AFailingPaintIsReportedOnceNotInAnEndlessLoop) {
    RecordedMessages messages;
    FailingWindow window(false, false, /*failOnPaint=*/true);
    window.Create();
    window.Show();
    ::UpdateWindow(window.Handle());
    // A paint that is asked for again leaves the window invalid; once nothing is left to paint, no
    // further paint can come.
    EXPECT_TRUE(test::PumpUntil([&] { return !::GetUpdateRect(window.Handle(), nullptr, FALSE); }, test::kGuiWait))
        << "the failed paint is asked for again and again";
    EXPECT_EQ(window.paints, 1);
    ASSERT_EQ(messages.Seen().size(), 1u);
    EXPECT_EQ(messages.Seen()[0].text, "paint failed.");
}

TEST_F(WindowsTest, WorkPostedFromAnotherThreadRunsInThePumpAndItsErrorsAreShown) {
    RecordedMessages messages;
    DWORD ranOn = 0;
    std::thread worker([&] {
        PostToGuiThread([&] { ranOn = ::GetCurrentThreadId(); });
        PostToGuiThread([] { throw EOSError(2, "The system cannot find the file specified."); });
    });
    worker.join();
    EXPECT_EQ(ranOn, 0u);  // nothing runs before the GUI thread pumps
    // The error box of the second piece of work shows that both ran.
    test::PumpUntil([&] { return !messages.Seen().empty(); }, test::kGuiWait);
    EXPECT_EQ(ranOn, ::GetCurrentThreadId());
    ASSERT_EQ(messages.Seen().size(), 1u);
    EXPECT_EQ(messages.Seen()[0].text, "The system cannot find the file specified.");
}

TEST(Executable, FolderHasNoTrailingSeparatorAndHoldsTheProgram) {
    const std::string folder = ExecutableFolder();
    ASSERT_FALSE(folder.empty());
    EXPECT_NE(folder.back(), '\\');
    const std::string path = ExecutablePath();
    EXPECT_EQ(path.substr(0, folder.size() + 1), folder + "\\");
    EXPECT_NE(::GetFileAttributesW(Wide(path).c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
}  // namespace orv
