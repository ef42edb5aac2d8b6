// The server browser TForm_ServerList: the update server's monitoring page for the game in the
// plain browser control (no user-agent extension, no new-window rule). Created on the first click
// of the main window's Server Browser button, owned by the main window, kept for the rest of the
// run and shown modally on every click; every activation loads the page again past the cache.
#pragma once

#include "launcher/ui/web_browser_win.h"
#include "launcher/ui/window_win.h"

namespace orv {

class TForm_ServerList : public Window {
public:
    TForm_ServerList();
    ~TForm_ServerList() override;

    // Creates the window hidden, owned by `owner`, over which it opens centred. Raises EOSError
    // when the platform refuses the window.
    void Create(HWND owner);

    WebBrowser WebBrowser_ServerList;

    // The browser as the window drives it.
    WebView& View() { return view_ ? *view_ : WebBrowser_ServerList; }
    // Sends the window's browser calls to `view` instead (nullptr: back to the control). For tests
    // that record the navigations.
    void SetView(WebView* view) { view_ = view; }

protected:
    void FormCreate();
    void FormActivate();

    void OnCreate() override { FormCreate(); }
    void OnActivate() override { FormActivate(); }
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    // Scroll bars for the part of the browser a window made smaller than it cannot show.
    void UpdateScrollBars();
    void ScrollTo(int bar, int position);

    WebView* view_ = nullptr;
    POINT scroll_{0, 0};
};

}  // namespace orv
