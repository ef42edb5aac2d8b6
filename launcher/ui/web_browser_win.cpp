#include "launcher/ui/web_browser_win.h"

#include <mshtml.h>
#include <olectl.h>

#include "launcher/base/errors.h"
#include "launcher/platform/scoped_win.h"
#include "launcher/platform/wide_win.h"
#include "launcher/ui/message_loop_win.h"
#include "launcher/ui/web_browser_site_win.h"

namespace orv {
namespace {

// The empty panel in the launcher's darkest slate, so that it reads as part of the window.
constexpr COLORREF kPanelColour = RGB(0x0f, 0x17, 0x22);

// What an Internet Explorer of the control's generation sends when nothing better is known.
constexpr const char* kFixedUserAgent = "Mozilla/4.0 (compatible; MSIE 7.0; Windows NT 6.1)";

// Navigation flags: navNoReadFromCache | navNoWriteToCache.
constexpr LONG kNoCacheFlags = 0x4 | 0x8;

// The engine's HTML document class (mshtml); the import libraries do not carry it.
constexpr CLSID kHtmlDocumentClass = {0x25336920, 0x03f9, 0x11cf, {0x8f, 0xd0, 0x00, 0xaa, 0x00, 0x68, 0x6f, 0x13}};

const CLSID* g_controlClass = nullptr;
std::optional<bool> g_renderingEngine;

// The GUI thread joins OLE once (in-place activation needs it, not only COM) and stays joined:
// the controls it hosts live as long as the thread.
bool OleReady(std::string& error) {
    thread_local const HRESULT result = ::OleInitialize(nullptr);
    if (SUCCEEDED(result)) return true;
    error = PlatformErrorMessage(static_cast<uint32_t>(result));
    return false;
}

std::string Text(BSTR text) { return text ? Narrow(std::wstring(text, ::SysStringLen(text))) : std::string(); }

// An attribute of an element as text; absent or not text: empty.
std::string AttributeOf(IHTMLElement* element, const wchar_t* name) {
    Bstr attribute(name);
    VARIANT value;
    ::VariantInit(&value);
    if (FAILED(element->getAttribute(attribute.Get(), 0, &value))) return {};
    std::string text = value.vt == VT_BSTR ? Text(value.bstrVal) : std::string();
    ::VariantClear(&value);
    return text;
}

ComPtr<IHTMLDocument2> DocumentOf(IWebBrowser2* browser) {
    ComPtr<IDispatch> dispatch;
    if (!browser || FAILED(browser->get_Document(dispatch.Put())) || !dispatch) return {};
    ComPtr<IHTMLDocument2> document;
    if (FAILED(dispatch->QueryInterface(IID_IHTMLDocument2, document.PutVoid()))) return {};
    return document;
}

std::string NavigatorUserAgent(IHTMLDocument2* document) {
    ComPtr<IHTMLWindow2> window;
    if (FAILED(document->get_parentWindow(window.Put())) || !window) return {};
    ComPtr<IOmNavigator> navigator;
    if (FAILED(window->get_navigator(navigator.Put())) || !navigator) return {};
    Bstr agent;
    if (FAILED(navigator->get_userAgent(agent.Put()))) return {};
    return Text(agent.Get());
}

// The user agent Internet Explorer's components send on this machine. Loaded on demand: the
// launcher links nothing of URL Moniker else.
std::string SystemUserAgent() {
    ScopedLibrary urlmon(::LoadLibraryW(L"urlmon.dll"));
    if (!urlmon) return {};
    using ObtainUserAgentStringFn = HRESULT(WINAPI*)(DWORD, LPSTR, DWORD*);
    const auto obtain = reinterpret_cast<ObtainUserAgentStringFn>(
        reinterpret_cast<void*>(::GetProcAddress(urlmon.Get(), "ObtainUserAgentString")));
    if (!obtain) return {};
    char buffer[1024] = {};
    DWORD size = sizeof(buffer);
    if (FAILED(obtain(0, buffer, &size))) return {};
    buffer[sizeof(buffer) - 1] = '\0';
    return buffer;
}

}  // namespace

std::string FallbackUserAgent() {
    static const std::string agent = [] {
        std::string system = SystemUserAgent();
        return system.empty() ? std::string(kFixedUserAgent) : system;
    }();
    return agent;
}

bool WebBrowser::RenderingEngine() {
    if (!g_renderingEngine) {
        // The control draws every document with this class; where it cannot be made (no engine
        // installed, a broken install) no document will ever get ready.
        ComPtr<IUnknown> document;
        g_renderingEngine = SUCCEEDED(::CoCreateInstance(kHtmlDocumentClass, nullptr, CLSCTX_INPROC_SERVER,
                                                         IID_IUnknown, document.PutVoid()));
    }
    return *g_renderingEngine;
}

void WebBrowser::SetRenderingEngine(std::optional<bool> present) noexcept { g_renderingEngine = present; }

void WebBrowser::SetControlClass(const CLSID* controlClass) noexcept { g_controlClass = controlClass; }

WebBrowser::WebBrowser() : GraphicControl(L"Orvanta.WebBrowser") {}

WebBrowser::~WebBrowser() {
    DestroyHandle();
    Unembed();
}

void WebBrowser::Create(const ControlInit& init) {
    CreateGraphic(init);
    if (!HandleAllocated()) return;
    // The control's window is a child of this one: painting the panel must leave it alone.
    ::SetWindowLongPtrW(Handle(), GWL_STYLE, ::GetWindowLongPtrW(Handle(), GWL_STYLE) | WS_CLIPCHILDREN);
    Embed();
}

void WebBrowser::Embed() {
    if (!OleReady(hostingError_)) return;
    const auto fail = [this](HRESULT result) {
        hostingError_ = PlatformErrorMessage(static_cast<uint32_t>(result));
        Unembed();
    };
    HRESULT result = ::CoCreateInstance(g_controlClass ? *g_controlClass : CLSID_WebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject,
                                        ole_.PutVoid());
    if (FAILED(result)) return fail(result);
    site_ = WebBrowserSite::Create(Handle());
    sink_ = WebBrowserEvents::Create([this](bool& cancel) { NewWindowRequested(cancel); });
    if (!site_ || !sink_) return fail(E_OUTOFMEMORY);
    if (FAILED(result = ole_->SetClientSite(site_))) return fail(result);
    RECT client{};
    ::GetClientRect(Handle(), &client);
    if (FAILED(result = ole_->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, site_, 0, Handle(), &client)))
        return fail(result);
    if (FAILED(result = ole_->QueryInterface(IID_IWebBrowser2, browser_.PutVoid()))) return fail(result);
    if (SUCCEEDED(ole_->QueryInterface(IID_IOleInPlaceObject, inPlace_.PutVoid()))) {
        site_->SetInPlaceObject(inPlace_.Get());
        inPlace_->SetObjectRects(&client, &client);
    }
    // Without the events the control still shows pages; only the new-window rule is missing.
    ComPtr<IConnectionPointContainer> points;
    if (SUCCEEDED(ole_->QueryInterface(IID_IConnectionPointContainer, points.PutVoid())) &&
        SUCCEEDED(points->FindConnectionPoint(DIID_DWebBrowserEvents2, events_.Put())) &&
        FAILED(events_->Advise(static_cast<IDispatch*>(sink_), &eventsCookie_))) {
        events_.Reset();
    }
    hostingError_.clear();
}

void WebBrowser::Unembed() noexcept {
    if (events_ && eventsCookie_) events_->Unadvise(eventsCookie_);
    events_.Reset();
    eventsCookie_ = 0;
    if (inPlace_) inPlace_->InPlaceDeactivate();
    inPlace_.Reset();
    browser_.Reset();
    if (ole_) {
        ole_->Close(OLECLOSE_NOSAVE);
        ole_->SetClientSite(nullptr);
    }
    ole_.Reset();
    if (site_) {
        site_->Detach();
        site_->Release();
        site_ = nullptr;
    }
    if (sink_) {
        sink_->Detach();
        sink_->Release();
        sink_ = nullptr;
    }
}

void WebBrowser::OnDestroy() {
    // The control goes while its window, a child of this one, still exists.
    Unembed();
}

LRESULT WebBrowser::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_SIZE && inPlace_) {
        const RECT client{0, 0, LOWORD(lParam), HIWORD(lParam)};
        inPlace_->SetObjectRects(&client, &client);
    }
    return GraphicControl::HandleMessage(msg, wParam, lParam);
}

void WebBrowser::PaintContent(HDC dc, const RECT& client) const {
    const COLORREF previous = ::SetDCBrushColor(dc, kPanelColour);
    ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
    ::SetDCBrushColor(dc, previous);
}

void WebBrowser::Navigate(const std::string& url, bool bypassCache) {
    url_ = url;
    html_.clear();
    if (!browser_) return;
    Bstr address(Wide(url).c_str());
    VARIANT flags;
    ::VariantInit(&flags);
    if (bypassCache) {
        flags.vt = VT_I4;
        flags.lVal = kNoCacheFlags;
    }
    VARIANT none;
    ::VariantInit(&none);
    // A page that cannot be loaded shows the control's own error page; nothing to report here.
    browser_->Navigate(address.Get(), &flags, &none, &none, &none);
}

void WebBrowser::Stop() {
    if (browser_) browser_->Stop();
}

bool WebBrowser::WaitForDocument(bool complete) {
    const DWORD start = ::GetTickCount();
    const auto limit = static_cast<DWORD>(kBrowserReadyWait.count());
    for (;;) {
        // The pump may run handlers that take the control away.
        if (!browser_) return false;
        READYSTATE state = READYSTATE_UNINITIALIZED;
        if (complete ? SUCCEEDED(browser_->get_ReadyState(&state)) && state == READYSTATE_COMPLETE
                     : static_cast<bool>(DocumentOf(browser_.Get())))
            return true;
        if (ApplicationTerminated() || ::GetTickCount() - start >= limit) return false;
        ProcessMessages();
        ::MsgWaitForMultipleObjectsEx(0, nullptr, 20, QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    }
}

std::string WebBrowser::DefaultUserAgent() {
    if (!browser_ || !RenderingEngine()) return FallbackUserAgent();
    if (!DocumentOf(browser_.Get())) {
        Bstr blank(L"about:blank");
        VARIANT none;
        ::VariantInit(&none);
        browser_->Navigate(blank.Get(), &none, &none, &none, &none);
    }
    if (!WaitForDocument(true)) {
        // What did not get ready once will not the next time: no later call waits.
        g_renderingEngine = false;
        return FallbackUserAgent();
    }
    const ComPtr<IHTMLDocument2> document = DocumentOf(browser_.Get());
    std::string agent = document ? NavigatorUserAgent(document.Get()) : std::string();
    return agent.empty() ? FallbackUserAgent() : agent;
}

void WebBrowser::SetUserAgent(const std::string& userAgent) {
    userAgent_ = userAgent;
    if (!site_) return;
    site_->SetUserAgent(Wide(userAgent));
    ComPtr<IOleControl> control;
    if (ole_ && SUCCEEDED(ole_->QueryInterface(IID_IOleControl, control.PutVoid())))
        control->OnAmbientPropertyChange(DISPID_AMBIENT_USERAGENT);
}

void WebBrowser::WriteHtml(const std::string& html) {
    html_ = html;
    if (!browser_ || !RenderingEngine()) return;
    if (!WaitForDocument(false)) {
        g_renderingEngine = false;
        return;
    }
    const ComPtr<IHTMLDocument2> document = DocumentOf(browser_.Get());
    if (!document) return;
    Bstr type(L"text/html;");
    VARIANT name;
    ::VariantInit(&name);
    name.vt = VT_BSTR;
    name.bstrVal = ::SysAllocString(L"replace");
    VARIANT none;
    ::VariantInit(&none);
    ComPtr<IDispatch> opened;
    const HRESULT result = document->open(type.Get(), name, none, none, opened.Put());
    ::VariantClear(&name);
    if (FAILED(result)) return;

    SAFEARRAY* pieces = ::SafeArrayCreateVector(VT_VARIANT, 0, 1);
    if (!pieces) return;
    VARIANT* piece = nullptr;
    if (SUCCEEDED(::SafeArrayAccessData(pieces, reinterpret_cast<void**>(&piece)))) {
        const std::wstring text = Wide(html);
        piece->vt = VT_BSTR;
        piece->bstrVal = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
        ::SafeArrayUnaccessData(pieces);
        if (piece->bstrVal) document->write(pieces);
    }
    // Frees the text with the array.
    ::SafeArrayDestroy(pieces);
}

void WebBrowser::NewWindowRequested(bool& cancel) {
    if (!newWindow_) return;
    const ComPtr<IHTMLDocument2> document = DocumentOf(browser_.Get());
    // A request without a document or an active element is the control's own business.
    if (!document) return;
    ComPtr<IHTMLElement> element;
    if (FAILED(document->get_activeElement(element.Put())) || !element) return;
    newWindow_(AttributeOf(element.Get(), L"href"), AttributeOf(element.Get(), L"rel"), cancel);
}

}  // namespace orv
