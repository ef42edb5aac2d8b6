// The platform's WebBrowser control hosted over COM in a child window, driven through WebView.
// Where no control can be made, or the one made never gets a document ready (no rendering engine
// installed, a broken install), the window stays a blank panel and every call still answers:
// the launcher must never wait on a browser that cannot come.
#pragma once

#include <windows.h>
#include <exdisp.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>

#include "launcher/platform/com_ptr_win.h"
#include "launcher/ui/controls_win.h"
#include "launcher/ui/web_view.h"

namespace orv {

class WebBrowserSite;
class WebBrowserEvents;

// The user agent given when the control cannot tell its own: what the system's URL components
// send, or a fixed text where even they do not answer.
std::string FallbackUserAgent();

// How long the control may take to get a blank document ready before it counts as unable to render.
inline constexpr std::chrono::milliseconds kBrowserReadyWait{10000};

class WebBrowser : public GraphicControl, public WebView {
public:
    WebBrowser();
    ~WebBrowser() override;

    // Creates the panel and, inside it, the control. A control that cannot be made is no error:
    // the panel stays blank and HostingError says why.
    void Create(const ControlInit& init) override;
    void PaintContent(HDC dc, const RECT& client) const override;

    void Navigate(const std::string& url, bool bypassCache) override;
    void Stop() override;
    // The control's own user agent, read from a document's navigator once the control reports
    // itself ready; waits at most kBrowserReadyWait, processing GUI events. Without a rendering
    // engine, or once a control never got ready, nothing is waited for: FallbackUserAgent.
    std::string DefaultUserAgent() override;
    // Stored and announced to the control as a changed ambient property; the control reads it
    // through the site. Empty: the control's own.
    void SetUserAgent(const std::string& userAgent) override;
    // Opens the document for writing ("text/html;", "replace") and writes `html`; the document is
    // left open.
    void WriteHtml(const std::string& html) override;

    // A page link asks for a new window: given the activating element's "href" and "rel" (absent
    // ones read as empty), setting `cancel` cancels the window. Unset: every window is left to the
    // control.
    using NewWindowHandler = std::function<void(const std::string& href, const std::string& rel, bool& cancel)>;
    void SetNewWindowHandler(NewWindowHandler handler) { newWindow_ = std::move(handler); }

    // The control exists and is in place.
    bool Hosted() const noexcept { return static_cast<bool>(browser_); }
    // Whether controls can render here: the engine's document class can be made, and no control
    // has failed to get a document ready in time. Known once per process.
    static bool RenderingEngine();
    // Forgets what is known (nullopt: found out again), or takes it as given (for tests that make
    // a control without an engine wait).
    static void SetRenderingEngine(std::optional<bool> present) noexcept;
    // Why the control could not be made (the platform's message); empty when it was.
    const std::string& HostingError() const noexcept { return hostingError_; }
    IWebBrowser2* Browser() const noexcept { return browser_.Get(); }

    // The COM class controls are made of from now on (nullptr: the platform's WebBrowser). For tests
    // that need a control which cannot be made.
    static void SetControlClass(const CLSID* controlClass) noexcept;

    // What the panel was asked last, whether or not a control shows it.
    const std::string& Url() const noexcept { return url_; }
    const std::string& UserAgent() const noexcept { return userAgent_; }
    // The document last written; emptied by a navigation.
    const std::string& Html() const noexcept { return html_; }

protected:
    void OnDestroy() override;
    LRESULT HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) override;

private:
    void Embed();
    void Unembed() noexcept;
    // Processes GUI events until the control has a document in the ready state `complete` asks for
    // (any document, or READYSTATE_COMPLETE) or the wait runs out; whether it got there.
    bool WaitForDocument(bool complete);
    void NewWindowRequested(bool& cancel);

    ComPtr<IOleObject> ole_;
    ComPtr<IWebBrowser2> browser_;
    ComPtr<IOleInPlaceObject> inPlace_;
    ComPtr<IConnectionPoint> events_;
    DWORD eventsCookie_ = 0;
    WebBrowserSite* site_ = nullptr;      // one reference, held here
    WebBrowserEvents* sink_ = nullptr;    // one reference, held here
    std::string hostingError_;
    NewWindowHandler newWindow_;

    std::string url_;
    std::string userAgent_;
    std::string html_;
};

}  // namespace orv
