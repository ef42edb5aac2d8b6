// The container side of a hosted WebBrowser control: the client site with its in-place site and
// frame (the control lives inside one child window and never asks for menus or tool space), the
// ambient properties the control reads through the site's IDispatch, and the sink of the
// control's DWebBrowserEvents2.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <olectl.h>

#include <functional>
#include <string>

// The ambient property a WebBrowser control reads its user agent from.
#ifndef DISPID_AMBIENT_USERAGENT
#define DISPID_AMBIENT_USERAGENT (-5513)
#endif

namespace orv {

// The system's interfaces have no virtual destructors; these objects delete themselves through
// their own class when the last reference goes, never through an interface pointer.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"

class WebBrowserSite final : public IOleClientSite,
                             public IOleInPlaceSite,
                             public IOleInPlaceFrame,
                             public IDispatch {
public:
    // `host` is the window the control is placed in (its client area, whole).
    static WebBrowserSite* Create(HWND host);

    // The extended user agent the control reads as its ambient property; empty: the control's own.
    void SetUserAgent(const std::wstring& userAgent) { userAgent_ = userAgent; }
    const std::wstring& UserAgent() const noexcept { return userAgent_; }
    // The control's in-place object, for size changes it asks for; not owned.
    void SetInPlaceObject(IOleInPlaceObject* object) noexcept { inPlace_ = object; }
    // The host window is going: nothing refers to it any more.
    void Detach() noexcept;

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override;
    STDMETHODIMP GetContainer(IOleContainer** container) override;
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow (for the in-place site and the frame alike)
    STDMETHODIMP GetWindow(HWND* window) override;
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return host_ ? S_OK : S_FALSE; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override;
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return S_OK; }
    STDMETHODIMP DeactivateAndUndo() override { return S_OK; }
    STDMETHODIMP OnPosRectChange(LPCRECT position) override;

    // IOleInPlaceUIWindow: the host offers no tool space.
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return OLE_E_INVALIDRECT; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }

    // IOleInPlaceFrame: no menus merged, no status line.
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDispatch: the ambient properties.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                        UINT*) override;

private:
    explicit WebBrowserSite(HWND host) : host_(host) {}
    ~WebBrowserSite() = default;

    LONG references_ = 1;
    HWND host_;
    IOleInPlaceObject* inPlace_ = nullptr;
    std::wstring userAgent_;
};

// The sink of the control's DWebBrowserEvents2; only NewWindow2 is handled.
class WebBrowserEvents final : public IDispatch {
public:
    // Asked about a new window the page requests: setting `cancel` cancels it.
    using NewWindowHandler = std::function<void(bool& cancel)>;
    static WebBrowserEvents* Create(NewWindowHandler onNewWindow);
    // The host is going: later events are left alone.
    void Detach() { onNewWindow_ = nullptr; }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override;
    STDMETHODIMP_(ULONG) AddRef() override;
    STDMETHODIMP_(ULONG) Release() override;
    STDMETHODIMP GetTypeInfoCount(UINT* count) override;
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override;
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return DISP_E_UNKNOWNNAME; }
    STDMETHODIMP Invoke(DISPID id, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result, EXCEPINFO*,
                        UINT*) override;

private:
    explicit WebBrowserEvents(NewWindowHandler onNewWindow) : onNewWindow_(std::move(onNewWindow)) {}
    ~WebBrowserEvents() = default;

    LONG references_ = 1;
    NewWindowHandler onNewWindow_;
};

#pragma GCC diagnostic pop

}  // namespace orv
