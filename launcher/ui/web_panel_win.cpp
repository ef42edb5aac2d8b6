#include "launcher/ui/web_panel_win.h"

#include "launcher/platform/scoped_win.h"

namespace orv {
namespace {

// The empty panel in the launcher's darkest slate, so that it reads as part of the window.
constexpr COLORREF kPanelColour = RGB(0x0f, 0x17, 0x22);

// The user agent Internet Explorer's components send on this machine, which is what an embedded
// browser reports as its own. Loaded on demand: the launcher links nothing of URL Moniker else.
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

WebPanel::WebPanel() : GraphicControl(L"Orvanta.WebPanel") {}

WebPanel::~WebPanel() { DestroyHandle(); }

void WebPanel::Create(const ControlInit& init) { CreateGraphic(init); }

void WebPanel::PaintContent(HDC dc, const RECT& client) const {
    const COLORREF previous = ::SetDCBrushColor(dc, kPanelColour);
    ::FillRect(dc, &client, static_cast<HBRUSH>(::GetStockObject(DC_BRUSH)));
    ::SetDCBrushColor(dc, previous);
}

void WebPanel::Navigate(const std::string& url, bool) {
    url_ = url;
    html_.clear();
}

std::string WebPanel::DefaultUserAgent() { return SystemUserAgent(); }

}  // namespace orv
