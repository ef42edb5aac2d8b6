// Ownership of Win32 resources, all in one place: the traits that fit each kind of handle to the one
// handle template (unique_handle.h), with the names callers use, and the scopes that leave a device
// context as they found it (a window's DC released, a paint ended, an object put back, the saved
// state restored), so that no return or exception skips a close.
#pragma once

#include <windows.h>
#include <bcrypt.h>
#include <wininet.h>

#include "launcher/platform/unique_handle.h"

namespace orv {

// Handles whose "none" is NULL, closed by `CloseFn` (whatever that returns).
template <typename T, auto CloseFn>
struct NullHandleTraits {
    using Type = T;
    static constexpr Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { CloseFn(h); }
};
// Kernel handles whose "none" is INVALID_HANDLE_VALUE.
struct InvalidHandleTraits : NullHandleTraits<HANDLE, &::CloseHandle> {
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
};

// Threads, mutexes, events, processes.
using ScopedHandle = UniqueHandle<NullHandleTraits<HANDLE, &::CloseHandle>>;
// Files and snapshots.
using ScopedFileHandle = UniqueHandle<InvalidHandleTraits>;
// Folder listings (FindFirstFile).
struct FindHandleTraits : NullHandleTraits<HANDLE, &::FindClose> {
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
};
using ScopedFindHandle = UniqueHandle<FindHandleTraits>;
using RegistryKey = UniqueHandle<NullHandleTraits<HKEY, &::RegCloseKey>>;
// Modules loaded with LoadLibrary.
using ScopedLibrary = UniqueHandle<NullHandleTraits<HMODULE, &::FreeLibrary>>;
// WinInet sessions and requests.
using InternetHandle = UniqueHandle<NullHandleTraits<HINTERNET, &::InternetCloseHandle>>;
// Memory the system allocates for the caller and LocalFree releases: FormatMessage's buffers,
// CommandLineToArgvW's array.
template <typename T>
using ScopedLocal = UniqueHandle<NullHandleTraits<T, &::LocalFree>>;

// CNG algorithm providers, keys and hash objects. A key or hash object must go before the provider
// it came from: declare the provider first.
inline void CloseBcryptAlgorithm(BCRYPT_ALG_HANDLE h) noexcept { ::BCryptCloseAlgorithmProvider(h, 0); }
using BcryptAlgorithm = UniqueHandle<NullHandleTraits<BCRYPT_ALG_HANDLE, &CloseBcryptAlgorithm>>;
using BcryptKey = UniqueHandle<NullHandleTraits<BCRYPT_KEY_HANDLE, &::BCryptDestroyKey>>;
using BcryptHash = UniqueHandle<NullHandleTraits<BCRYPT_HASH_HANDLE, &::BCryptDestroyHash>>;

using ScopedWindow = UniqueHandle<NullHandleTraits<HWND, &::DestroyWindow>>;
using ScopedMenu = UniqueHandle<NullHandleTraits<HMENU, &::DestroyMenu>>;
template <typename T>
using ScopedGdiObject = UniqueHandle<NullHandleTraits<T, &::DeleteObject>>;
using ScopedFont = ScopedGdiObject<HFONT>;
using ScopedBitmap = ScopedGdiObject<HBITMAP>;
// Memory device contexts (CreateCompatibleDC).
using ScopedMemoryDc = UniqueHandle<NullHandleTraits<HDC, &::DeleteDC>>;
using ScopedEnhMetaFile = UniqueHandle<NullHandleTraits<HENHMETAFILE, &::DeleteEnhMetaFile>>;

// GetDC / ReleaseDC of one window; a null window is the screen.
class WindowDc {
public:
    explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(::GetDC(hwnd)) {}
    ~WindowDc() {
        if (dc_) ::ReleaseDC(hwnd_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC Get() const noexcept { return dc_; }

private:
    HWND hwnd_;
    HDC dc_;
};

// BeginPaint / EndPaint of one window's WM_PAINT.
class PaintScope {
public:
    explicit PaintScope(HWND hwnd) : hwnd_(hwnd) { dc_ = ::BeginPaint(hwnd, &ps_); }
    ~PaintScope() { ::EndPaint(hwnd_, &ps_); }
    PaintScope(const PaintScope&) = delete;
    PaintScope& operator=(const PaintScope&) = delete;
    HDC Dc() const noexcept { return dc_; }
    const RECT& Dirty() const noexcept { return ps_.rcPaint; }

private:
    HWND hwnd_;
    PAINTSTRUCT ps_{};
    HDC dc_ = nullptr;
};

// Selects an object into a DC for the scope; a null object selects nothing.
class SelectObjectScope {
public:
    SelectObjectScope(HDC dc, HGDIOBJ object) : dc_(dc), old_(object ? ::SelectObject(dc, object) : nullptr) {}
    ~SelectObjectScope() {
        if (old_) ::SelectObject(dc_, old_);
    }
    SelectObjectScope(const SelectObjectScope&) = delete;
    SelectObjectScope& operator=(const SelectObjectScope&) = delete;

private:
    HDC dc_;
    HGDIOBJ old_;
};

// SaveDC / RestoreDC: clip region, viewport origin, colours and selections come back as they were.
class SavedDcState {
public:
    explicit SavedDcState(HDC dc) : dc_(dc), saved_(::SaveDC(dc)) {}
    ~SavedDcState() {
        if (saved_) ::RestoreDC(dc_, saved_);
    }
    SavedDcState(const SavedDcState&) = delete;
    SavedDcState& operator=(const SavedDcState&) = delete;

private:
    HDC dc_;
    int saved_;
};

}  // namespace orv
