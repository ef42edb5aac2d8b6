#include "launcher/windows/form_server_list_win.h"

#include <algorithm>

#include "launcher/net/server_paths.h"

namespace orv {
namespace {

// The browser control's place and size; the window's client area fits it.
constexpr int kBrowserWidth = 490;
constexpr int kBrowserHeight = 650;
constexpr int kBrowserId = 100;

// A sizeable tool window with only the close box; "Server Browser" in every interface language.
constexpr WindowDesc kServerListWindow = {
    L"TForm_ServerList",
    WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_CLIPCHILDREN,
    WS_EX_TOOLWINDOW,
    kBrowserWidth,
    kBrowserHeight,
    "Server Browser",
    WindowPosition::OwnerCenter,
    true,
};

}  // namespace

TForm_ServerList::TForm_ServerList() : Window(kServerListWindow) {}

TForm_ServerList::~TForm_ServerList() { DestroyHandle(); }

void TForm_ServerList::Create(HWND owner) { CreateHandle(owner); }

void TForm_ServerList::FormCreate() {
    SetFont(L"Tahoma", 8);
    ControlInit init;
    init.parent = Handle();
    init.id = kBrowserId;
    init.name = "WebBrowser_ServerList";
    init.bounds = RECT{0, 0, kBrowserWidth, kBrowserHeight};
    WebBrowser_ServerList.Create(init);
}

void TForm_ServerList::FormActivate() { View().Navigate(MonitoringUrl(), true); }

void TForm_ServerList::UpdateScrollBars() {
    RECT client{};
    ::GetClientRect(Handle(), &client);
    const auto apply = [this](int bar, int page, int content, LONG& position) {
        SCROLLINFO info{};
        info.cbSize = sizeof(info);
        info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
        info.nMin = 0;
        info.nMax = content - 1;
        info.nPage = static_cast<UINT>(std::max(page, 0));
        position = std::clamp<LONG>(position, 0, std::max(content - page, 0));
        info.nPos = position;
        ::SetScrollInfo(Handle(), bar, &info, TRUE);
    };
    apply(SB_HORZ, client.right, kBrowserWidth, scroll_.x);
    apply(SB_VERT, client.bottom, kBrowserHeight, scroll_.y);
    if (WebBrowser_ServerList.HandleAllocated()) WebBrowser_ServerList.SetBounds(-scroll_.x, -scroll_.y, kBrowserWidth, kBrowserHeight);
}

void TForm_ServerList::ScrollTo(int bar, int position) {
    (bar == SB_HORZ ? scroll_.x : scroll_.y) = position;
    UpdateScrollBars();
}

LRESULT TForm_ServerList::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_SIZE:
            UpdateScrollBars();
            break;
        case WM_HSCROLL:
        case WM_VSCROLL: {
            const int bar = msg == WM_HSCROLL ? SB_HORZ : SB_VERT;
            SCROLLINFO info{};
            info.cbSize = sizeof(info);
            info.fMask = SIF_ALL;
            ::GetScrollInfo(Handle(), bar, &info);
            int position = info.nPos;
            switch (LOWORD(wParam)) {
                case SB_LINEUP: position -= 16; break;
                case SB_LINEDOWN: position += 16; break;
                case SB_PAGEUP: position -= static_cast<int>(info.nPage); break;
                case SB_PAGEDOWN: position += static_cast<int>(info.nPage); break;
                case SB_THUMBTRACK:
                case SB_THUMBPOSITION: position = info.nTrackPos; break;
                default: break;
            }
            ScrollTo(bar, position);
            return 0;
        }
        default:
            break;
    }
    return Window::HandleMessage(msg, wParam, lParam);
}

}  // namespace orv
