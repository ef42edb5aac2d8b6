// The main window's tray, about box, the news panel's new-window rule and the server browser, in
// this process: the tray calls recorded through the notifier seam, the message boxes through the
// message-box seam, links through the link opener, and the server browser's navigations through
// its web-view seam.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cwchar>
#include <memory>
#include <string>
#include <vector>

#include "gui_test_support.h"
#include "launcher/about_text.h"
#include "launcher/base/app_state.h"
#include "launcher/main_window/main_window_win.h"
#include "launcher/net/server_paths.h"
#include "launcher/platform/wide_win.h"
#include "launcher/ui/gui_thread_win.h"
#include "launcher/ui/message_loop_win.h"
#include "launcher/windows/form_server_list_win.h"
#include "tools/ui_driver/ui_driver_win.h"

namespace orv {
namespace {

struct TrayCall {
    DWORD message;
    NOTIFYICONDATAW record;
};

class RecordingWebView : public WebView {
public:
    void Navigate(const std::string& url, bool bypassCache) override {
        calls.push_back("Navigate " + url + (bypassCache ? " nocache" : ""));
    }
    void Stop() override { calls.push_back("Stop"); }
    std::string DefaultUserAgent() override { return "Agent"; }
    void SetUserAgent(const std::string& userAgent) override { calls.push_back("SetUserAgent " + userAgent); }
    void WriteHtml(const std::string&) override { calls.push_back("WriteHtml"); }
    std::vector<std::string> calls;
};

class MainWindowTrayTest : public ::testing::Test {
protected:
    void SetUp() override {
        test::EnsureApplication();
        ResetApplicationTermination();
        UiLanguage = UiRussian;
        RecordTray();
        SetLinkOpener([this](const std::string& address) { opened_.push_back(address); });
        form_ = std::make_unique<TForm1>();
        form_->Create();
        ASSERT_TRUE(form_->HandleAllocated());
        form_->Show();
    }
    void TearDown() override {
        form_.reset();
        SetTrayNotifier(nullptr);
        SetLinkOpener(nullptr);
        UiLanguage = UiRussian;
        ResetApplicationTermination();
    }

    // The shell takes every call, which is recorded.
    void RecordTray() {
        SetTrayNotifier([this](DWORD message, const NOTIFYICONDATAW& record) {
            tray_.push_back({message, record});
            return true;
        });
    }
    void Minimise() { ::SendMessageW(form_->Handle(), WM_SYSCOMMAND, SC_MINIMIZE, 0); }
    void TrayMouse(UINT mouseMessage) { ::SendMessageW(form_->Handle(), TrayCallbackMessage, 1, mouseMessage); }
    std::vector<DWORD> TrayMessages() const {
        std::vector<DWORD> messages;
        for (const TrayCall& call : tray_) messages.push_back(call.message);
        return messages;
    }

    test::SimulatedStart start_{test::SimulatedStart::Options::LayoutOnly()};
    std::vector<TrayCall> tray_;
    int adds_ = 0;  // NIM_ADD calls a refusing shell has seen
    std::vector<std::string> opened_;
    std::unique_ptr<TForm1> form_;
};

TEST_F(MainWindowTrayTest, MinimisingHidesInTheTrayAndALeftClickOrDoubleClickRestores) {
    for (const UINT restore : {WM_LBUTTONUP, WM_LBUTTONDBLCLK}) {
        tray_.clear();
        // Other system commands, and a minimise with the low bits set, are the window's usual ones.
        ::SendMessageW(form_->Handle(), WM_SYSCOMMAND, SC_MINIMIZE | 2, 0);
        ::ShowWindow(form_->Handle(), SW_RESTORE);
        EXPECT_TRUE(tray_.empty());

        Minimise();
        ASSERT_EQ(TrayMessages(), std::vector<DWORD>{NIM_ADD}) << restore;
        const NOTIFYICONDATAW& record = tray_[0].record;
        EXPECT_EQ(record.cbSize, sizeof(NOTIFYICONDATAW));
        EXPECT_EQ(record.hWnd, form_->Handle());
        EXPECT_EQ(record.uID, 1u);
        EXPECT_EQ(record.uFlags, 7u);
        EXPECT_EQ(record.uCallbackMessage, 0x401u);
        EXPECT_NE(record.hIcon, nullptr);
        EXPECT_STREQ(record.szTip, L"Orvanta");
        EXPECT_FALSE(form_->Visible());
        EXPECT_FALSE(::IsIconic(form_->Handle()));
        EXPECT_TRUE(form_->InTray());

        // Moving over the icon, pressing and a right button down change nothing.
        for (const UINT other : {WM_MOUSEMOVE, WM_LBUTTONDOWN, WM_RBUTTONDOWN}) TrayMouse(other);
        EXPECT_EQ(tray_.size(), 1u);
        EXPECT_FALSE(form_->Visible());

        TrayMouse(restore);
        ASSERT_EQ(TrayMessages(), (std::vector<DWORD>{NIM_ADD, NIM_DELETE})) << restore;
        EXPECT_EQ(tray_[1].record.hWnd, form_->Handle());
        EXPECT_EQ(tray_[1].record.uID, 1u);
        EXPECT_TRUE(form_->Visible());
        EXPECT_FALSE(form_->InTray());
        // The double click that follows a release finds no icon.
        TrayMouse(WM_LBUTTONDBLCLK);
        EXPECT_EQ(tray_.size(), 2u);
        EXPECT_TRUE(form_->Visible());
    }
}

TEST_F(MainWindowTrayTest, ANewTaskbarGetsTheIconOfAHiddenWindowBack) {
    // The shell's own name for the message, not the launcher's.
    const UINT taskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");
    ASSERT_NE(taskbarCreated, 0u);
    const auto announce = [&](size_t expectedCalls) {
        ::PostMessageW(form_->Handle(), taskbarCreated, 0, 0);
        return test::PumpUntil([&] { return tray_.size() >= expectedCalls && test::NothingQueued(); }, test::kGuiWait);
    };

    // Shown: no icon to bring back.
    ASSERT_TRUE(announce(0));
    EXPECT_TRUE(tray_.empty());

    Minimise();
    ASSERT_TRUE(form_->InTray());
    ASSERT_TRUE(announce(3));
    // A stale icon of an earlier taskbar cannot make the new one refuse it.
    ASSERT_EQ(TrayMessages(), (std::vector<DWORD>{NIM_ADD, NIM_DELETE, NIM_ADD}));
    const NOTIFYICONDATAW& again = tray_[2].record;
    EXPECT_EQ(again.hWnd, form_->Handle());
    EXPECT_EQ(again.uID, 1u);
    EXPECT_EQ(again.uFlags, 7u);
    EXPECT_EQ(again.uCallbackMessage, 0x401u);
    EXPECT_EQ(again.hIcon, tray_[0].record.hIcon);
    EXPECT_STREQ(again.szTip, L"Orvanta");
    EXPECT_TRUE(form_->InTray());
    EXPECT_FALSE(form_->Visible());

    // The icon that came back restores the window as the first one did.
    TrayMouse(WM_LBUTTONUP);
    EXPECT_EQ(TrayMessages().back(), static_cast<DWORD>(NIM_DELETE));
    EXPECT_TRUE(form_->Visible());
    EXPECT_FALSE(form_->InTray());
}

TEST_F(MainWindowTrayTest, AnIconTheShellRefusesLeavesTheWindowMinimisedNotHidden) {
    const UINT taskbarCreated = ::RegisterWindowMessageW(L"TaskbarCreated");
    struct Case {
        const char* what;
        int addsTaken;  // how many NIM_ADD calls the shell takes before it refuses them
        bool announceTaskbar;
    };
    const Case cases[] = {
        {"refused at minimising", 0, false},
        {"refused by the new taskbar", 1, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ::ShowWindow(form_->Handle(), SW_RESTORE);
        tray_.clear();
        adds_ = 0;
        SetTrayNotifier([this, taken = c.addsTaken](DWORD message, const NOTIFYICONDATAW& record) {
            tray_.push_back({message, record});
            return message != NIM_ADD || adds_++ < taken;
        });
        Minimise();
        if (c.announceTaskbar) {
            EXPECT_TRUE(form_->InTray());
            EXPECT_FALSE(form_->Visible());
            ::PostMessageW(form_->Handle(), taskbarCreated, 0, 0);
            ASSERT_TRUE(test::PumpUntil([&] { return adds_ == 2 && test::NothingQueued(); }, test::kGuiWait));
        }
        // Reachable through the taskbar: minimised, not hidden, and no icon is thought to be there.
        EXPECT_TRUE(::IsIconic(form_->Handle()));
        EXPECT_TRUE(::IsWindowVisible(form_->Handle()));
        EXPECT_FALSE(form_->InTray());
        // Restored from the taskbar and minimised again, the window tries the tray once more.
        ::ShowWindow(form_->Handle(), SW_RESTORE);
        const size_t before = tray_.size();
        Minimise();
        ASSERT_EQ(tray_.size(), before + 1);
        EXPECT_EQ(tray_.back().message, static_cast<DWORD>(NIM_ADD));
    }
    RecordTray();
}

TEST_F(MainWindowTrayTest, TheRightButtonPopsTheExitMenuAndExitEndsTheProgramWithoutAnIcon) {
    Minimise();
    ASSERT_TRUE(form_->InTray());
    POINT cursor{200, 150};
    ::SetCursorPos(cursor.x, cursor.y);
    ::GetCursorPos(&cursor);
    // The menu runs its own loop: chosen from inside it, with the keyboard, as a player would.
    HWND menu = nullptr;
    RECT menuAt{};
    std::string item;
    PostToGuiThread([&] {
        menu = ::FindWindowW(L"#32768", nullptr);
        if (!menu) return;
        ::GetWindowRect(menu, &menuAt);
        wchar_t text[64] = {};
        ::GetMenuStringW(form_->pm1(), 0, text, 63, MF_BYPOSITION);
        item = Narrow(text);
        ::PostMessageW(menu, WM_KEYDOWN, VK_DOWN, 0);
        ::PostMessageW(menu, WM_KEYDOWN, VK_RETURN, 0);
    });
    TrayMouse(WM_RBUTTONUP);
    ASSERT_NE(menu, nullptr) << "no menu popped up";
    EXPECT_EQ(item, "Выход");
    EXPECT_LE(std::abs(menuAt.left - cursor.x), 2);
    EXPECT_LE(std::abs(menuAt.top - cursor.y), 2);
    // The choice arrives as the menu's command.
    ASSERT_TRUE(test::PumpUntil([&] { return !form_->HandleAllocated(); }, test::kGuiWait));
    EXPECT_TRUE(ApplicationTerminated());
    EXPECT_EQ(TrayMessages(), (std::vector<DWORD>{NIM_ADD, NIM_DELETE}));
}

TEST_F(MainWindowTrayTest, TheIconGoesHoweverTheProgramEndsWhileHidden) {
    // Closed (a self-update, a connect link), or destroyed with the program.
    Minimise();
    form_->Close();
    EXPECT_FALSE(form_->HandleAllocated());
    EXPECT_EQ(TrayMessages(), (std::vector<DWORD>{NIM_ADD, NIM_DELETE}));

    tray_.clear();
    ResetApplicationTermination();
    form_ = std::make_unique<TForm1>();
    form_->Create();
    form_->Show();
    Minimise();
    form_.reset();
    EXPECT_EQ(TrayMessages(), (std::vector<DWORD>{NIM_ADD, NIM_DELETE}));

    // Never minimised: nothing to delete.
    tray_.clear();
    ResetApplicationTermination();
    form_ = std::make_unique<TForm1>();
    form_->Create();
    form_.reset();
    EXPECT_TRUE(tray_.empty());
}

TEST_F(MainWindowTrayTest, TheTrayMenuAndTipKeepTheirWordingInEnglish) {
    form_->menu("English");
    wchar_t text[64] = {};
    ::GetMenuStringW(form_->pm1(), 0, text, 63, MF_BYPOSITION);
    EXPECT_EQ(Narrow(text), "Выход");
    EXPECT_EQ(::GetMenuItemCount(form_->pm1()), 1);
    Minimise();
    ASSERT_EQ(tray_.size(), 1u);
    EXPECT_STREQ(tray_[0].record.szTip, L"Orvanta");
}

TEST_F(MainWindowTrayTest, TheAboutBoxShowsTheTextOfTheLanguageInAPlainBox) {
    for (const char* language : {"Russian", "English", "Ukrainian"}) {
        form_->menu(language);
        test::RecordedMessages boxes;
        ::SendMessageW(form_->Handle(), WM_COMMAND, MAKEWPARAM(menu_ids::About, 0), 0);
        ASSERT_EQ(boxes.Seen().size(), 1u) << language;
        const MessageRequest& box = boxes.Seen().front();
        EXPECT_EQ(box.text, AboutText(UiLanguage)) << language;
        EXPECT_EQ(box.flags, mb::Ok);
        EXPECT_EQ(box.caption, ApplicationTitle);
        EXPECT_EQ(box.owner, form_->Handle());
    }
}

TEST_F(MainWindowTrayTest, OnlyExactlyExternalWebLinksGoToTheDefaultBrowser) {
    struct Case {
        const char* href;
        const char* rel;
        bool cancelled;
        bool opened;
    };
    const Case cases[] = {
        {"http://127.0.0.1:8740/site/offline/ru", "external", true, true},
        {"http://news.example/a", "External", false, false},
        {"http://news.example/a", "external nofollow", false, false},
        {"http://news.example/a", "", false, false},
        {"javascript:alert(1)", "external", true, false},
        {"file:///C:/windows/notepad.exe", "external", true, false},
    };
    for (const Case& c : cases) {
        opened_.clear();
        bool cancel = false;
        form_->wb1NewWindow2(c.href, c.rel, cancel);
        EXPECT_EQ(cancel, c.cancelled) << c.href << " " << c.rel;
        EXPECT_EQ(opened_, c.opened ? std::vector<std::string>{c.href} : std::vector<std::string>{})
            << c.href << " " << c.rel;
    }
    // The news panel takes the rule: the control's request reaches it.
    EXPECT_TRUE(form_->NewsPanel.Hosted()) << form_->NewsPanel.HostingError();
}

TEST_F(MainWindowTrayTest, TheServerBrowserIsMadeOnceShownModallyAndReloadedOnEveryActivation) {
    EXPECT_EQ(form_->ServerList(), nullptr);
    form_->menu("English");
    TForm_ServerList* first = nullptr;
    bool inspected = false;
    PostToGuiThread([&] {
        first = form_->ServerList();
        if (!first) return;
        inspected = true;
        TForm_ServerList& w = *first;
        EXPECT_TRUE(w.Modal());
        EXPECT_FALSE(::IsWindowEnabled(form_->Handle()));
        EXPECT_EQ(w.Caption(), "Server Browser");
        const LONG_PTR style = ::GetWindowLongPtrW(w.Handle(), GWL_STYLE);
        EXPECT_TRUE(style & WS_THICKFRAME);
        EXPECT_TRUE(style & WS_SYSMENU);
        EXPECT_FALSE(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX));
        EXPECT_TRUE(::GetWindowLongPtrW(w.Handle(), GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
        EXPECT_EQ(::GetWindow(w.Handle(), GW_OWNER), form_->Handle());
        EXPECT_EQ(w.ClientSize().cx, 490);
        EXPECT_EQ(w.ClientSize().cy, 650);
        const RECT b = w.WebBrowser_ServerList.Bounds();
        EXPECT_EQ(b.left, 0);
        EXPECT_EQ(b.top, 0);
        EXPECT_EQ(b.right, 490);
        EXPECT_EQ(b.bottom, 650);
        EXPECT_TRUE(w.WebBrowser_ServerList.Hosted()) << w.WebBrowser_ServerList.HostingError();
        LOGFONTW font{};
        ::GetObjectW(w.Font(), sizeof(font), &font);
        EXPECT_STREQ(font.lfFaceName, L"Tahoma");
        // The plain control: no user agent of its own.
        EXPECT_TRUE(w.WebBrowser_ServerList.UserAgent().empty());
        EXPECT_EQ(w.WebBrowser_ServerList.Url(), MonitoringUrl());
        // Made smaller than the control, the window scrolls it; made big enough again, it does not.
        w.SetClientSize(300, 400);
        const LONG_PTR scrolling = ::GetWindowLongPtrW(w.Handle(), GWL_STYLE);
        EXPECT_TRUE(scrolling & WS_VSCROLL);
        EXPECT_TRUE(scrolling & WS_HSCROLL);
        ::SendMessageW(w.Handle(), WM_VSCROLL, SB_PAGEDOWN, 0);
        ::SendMessageW(w.Handle(), WM_HSCROLL, SB_LINEDOWN, 0);
        EXPECT_LT(w.WebBrowser_ServerList.Bounds().top, 0);
        EXPECT_EQ(w.WebBrowser_ServerList.Bounds().left, -16);
        ::MoveWindow(w.Handle(), 0, 0, 900, 900, TRUE);
        EXPECT_FALSE(::GetWindowLongPtrW(w.Handle(), GWL_STYLE) & (WS_VSCROLL | WS_HSCROLL));
        EXPECT_EQ(w.WebBrowser_ServerList.Bounds().top, 0);
        EXPECT_EQ(w.WebBrowser_ServerList.Bounds().left, 0);
        w.Close();
    });
    form_->Image_Button_ServerBrowserClick();
    ASSERT_TRUE(inspected) << "the server browser did not open";
    EXPECT_FALSE(first->Visible());
    EXPECT_TRUE(first->HandleAllocated());
    EXPECT_EQ(MonitoringUrl(), std::string(UpdateServerBase) + GameCode + "/monitoring/");

    // The second click: the same window, the page loaded again, and again at every activation.
    RecordingWebView view;
    first->SetView(&view);
    HWND other = nullptr;
    TForm_ServerList* second = nullptr;
    std::vector<std::string> afterOpening;
    PostToGuiThread([&] {
        second = form_->ServerList();
        afterOpening = view.calls;
        // Another window active, then this one again: a new activation.
        const HWND self = second->Handle();
        other = ::CreateWindowExW(0, L"STATIC", L"Other", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 200, 100, nullptr,
                                  nullptr, nullptr, nullptr);
        ::SetActiveWindow(other);
        ::SetActiveWindow(self);
        PostToGuiThread([&] { second->Close(); });
    });
    form_->Image_Button_ServerBrowserClick();
    if (other) ::DestroyWindow(other);
    EXPECT_EQ(second, first);
    const std::string navigation = "Navigate " + MonitoringUrl() + " nocache";
    EXPECT_EQ(afterOpening, std::vector<std::string>{navigation});
    EXPECT_EQ(view.calls, (std::vector<std::string>{navigation, navigation}));
    first->SetView(nullptr);
}

}  // namespace
}  // namespace orv
