// Win32 flavours of the one handle template: kernel handles whose "none" is NULL and those whose
// "none" is INVALID_HANDLE_VALUE, plus wide-string helpers for the W APIs.
#pragma once

#include <windows.h>

#include <string>

#include "launcher/platform/unique_handle.h"
#include "launcher/platform/utf8.h"

namespace orv {

struct NullHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return nullptr; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
struct InvalidHandleTraits {
    using Type = HANDLE;
    static Type Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(Type h) noexcept { ::CloseHandle(h); }
};
// Threads, mutexes, events, processes.
using ScopedHandle = UniqueHandle<NullHandleTraits>;
// Files and snapshots.
using ScopedFileHandle = UniqueHandle<InvalidHandleTraits>;

inline std::wstring Wide(const std::string& utf8) {
    const std::u16string s = Utf8ToUtf16(utf8);
    return std::wstring(s.begin(), s.end());
}
inline std::string Narrow(const std::wstring& wide) {
    return Utf16ToUtf8(std::u16string(wide.begin(), wide.end()));
}

}  // namespace orv
