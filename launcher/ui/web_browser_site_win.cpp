#include "launcher/ui/web_browser_site_win.h"

#include <exdisp.h>
#include <exdispid.h>
#include <olectl.h>

#include <new>

#include "launcher/ui/message_loop_win.h"

namespace orv {
namespace {

template <typename T>
HRESULT Hand(T* object, void** out) {
    object->AddRef();
    *out = object;
    return S_OK;
}

}  // namespace

WebBrowserSite* WebBrowserSite::Create(HWND host) { return new (std::nothrow) WebBrowserSite(host); }

void WebBrowserSite::Detach() noexcept {
    host_ = nullptr;
    inPlace_ = nullptr;
}

STDMETHODIMP WebBrowserSite::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IOleClientSite) return Hand(static_cast<IOleClientSite*>(this), object);
    if (riid == IID_IOleWindow || riid == IID_IOleInPlaceSite) return Hand(static_cast<IOleInPlaceSite*>(this), object);
    if (riid == IID_IOleInPlaceUIWindow || riid == IID_IOleInPlaceFrame)
        return Hand(static_cast<IOleInPlaceFrame*>(this), object);
    if (riid == IID_IDispatch) return Hand(static_cast<IDispatch*>(this), object);
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) WebBrowserSite::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }

STDMETHODIMP_(ULONG) WebBrowserSite::Release() {
    const LONG left = ::InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

STDMETHODIMP WebBrowserSite::GetMoniker(DWORD, DWORD, IMoniker** moniker) {
    if (moniker) *moniker = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP WebBrowserSite::GetContainer(IOleContainer** container) {
    if (container) *container = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP WebBrowserSite::GetWindow(HWND* window) {
    if (!window) return E_POINTER;
    *window = host_;
    return host_ ? S_OK : E_FAIL;
}

STDMETHODIMP WebBrowserSite::GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document,
                                              LPRECT position, LPRECT clip, LPOLEINPLACEFRAMEINFO info) {
    if (!frame || !document || !position || !clip || !info) return E_POINTER;
    *document = nullptr;
    *frame = static_cast<IOleInPlaceFrame*>(this);
    AddRef();
    RECT client{};
    if (host_) ::GetClientRect(host_, &client);
    *position = client;
    *clip = client;
    info->fMDIApp = FALSE;
    info->hwndFrame = host_ ? ::GetAncestor(host_, GA_ROOT) : nullptr;
    info->haccel = nullptr;
    info->cAccelEntries = 0;
    return S_OK;
}

STDMETHODIMP WebBrowserSite::OnPosRectChange(LPCRECT position) {
    if (!position) return E_POINTER;
    if (inPlace_) inPlace_->SetObjectRects(position, position);
    return S_OK;
}

STDMETHODIMP WebBrowserSite::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP WebBrowserSite::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP WebBrowserSite::Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                                    UINT*) {
    // The control reads its user agent as an ambient property of its site; the text ends with the
    // line break a request header line needs.
    if (!userAgent_.empty() && (flags & DISPATCH_PROPERTYGET) && result && id == DISPID_AMBIENT_USERAGENT) {
        const std::wstring line = userAgent_ + L"\r\n";
        const BSTR text = ::SysAllocStringLen(line.data(), static_cast<UINT>(line.size()));
        if (!text) return E_OUTOFMEMORY;
        ::VariantInit(result);
        result->vt = VT_BSTR;
        result->bstrVal = text;
        return S_OK;
    }
    // Every other ambient property: the control's own default.
    return DISP_E_MEMBERNOTFOUND;
}

WebBrowserEvents* WebBrowserEvents::Create(NewWindowHandler onNewWindow) {
    return new (std::nothrow) WebBrowserEvents(std::move(onNewWindow));
}

STDMETHODIMP WebBrowserEvents::QueryInterface(REFIID riid, void** object) {
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid == IID_IUnknown || riid == IID_IDispatch || riid == DIID_DWebBrowserEvents2) return Hand(this, object);
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) WebBrowserEvents::AddRef() { return static_cast<ULONG>(::InterlockedIncrement(&references_)); }

STDMETHODIMP_(ULONG) WebBrowserEvents::Release() {
    const LONG left = ::InterlockedDecrement(&references_);
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
}

STDMETHODIMP WebBrowserEvents::GetTypeInfoCount(UINT* count) {
    if (!count) return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP WebBrowserEvents::GetTypeInfo(UINT, LCID, ITypeInfo** info) {
    if (info) *info = nullptr;
    return E_NOTIMPL;
}

STDMETHODIMP WebBrowserEvents::Invoke(DISPID id, REFIID, LCID, WORD, DISPPARAMS* params, VARIANT*, EXCEPINFO*,
                                      UINT*) {
    if (id != DISPID_NEWWINDOW2 || !params || !onNewWindow_) return S_OK;
    // NewWindow2(IDispatch** ppDisp, VARIANT_BOOL* Cancel): arguments arrive last first.
    if (params->cArgs < 2) return S_OK;
    VARIANT& cancel = params->rgvarg[0];
    if (cancel.vt != (VT_BYREF | VT_BOOL) || !cancel.pboolVal) return S_OK;
    bool cancelled = false;
    // The handler runs inside the control's call: nothing may escape into it.
    RunGuarded([&] { onNewWindow_(cancelled); });
    if (cancelled) *cancel.pboolVal = VARIANT_TRUE;
    return S_OK;
}

}  // namespace orv
