#include "launcher/platform/registry_win.h"

#include "launcher/base/errors.h"
#include "launcher/platform/wide_win.h"

namespace orv {
namespace {

std::optional<RegistryKey> Checked(LONG result, HKEY key, LONG* status) {
    if (status) *status = result;
    if (result != ERROR_SUCCESS) return std::nullopt;
    return RegistryKey(key);
}

[[noreturn]] void RaiseSetFailure(LONG result, const std::wstring& name) {
    const auto code = static_cast<uint32_t>(result);
    throw EOSError(code, "Failed to set data for '" + Narrow(name) + "': " + PlatformErrorMessage(code));
}

}  // namespace

std::optional<RegistryKey> OpenRegistryKey(HKEY parent, const std::wstring& subkey, REGSAM access, LONG* status) {
    HKEY key = nullptr;
    const LONG result = ::RegOpenKeyExW(parent, subkey.c_str(), 0, access, &key);
    return Checked(result, key, status);
}

std::optional<RegistryKey> CreateRegistryKey(HKEY parent, const std::wstring& subkey, REGSAM access,
                                             LONG* status) {
    HKEY key = nullptr;
    const LONG result =
        ::RegCreateKeyExW(parent, subkey.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, access, nullptr, &key, nullptr);
    return Checked(result, key, status);
}

void SetRegistryString(HKEY key, const std::wstring& name, const std::wstring& value) {
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t));
    const LONG result =
        ::RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()), bytes);
    if (result != ERROR_SUCCESS) RaiseSetFailure(result, name);
}

void SetRegistryDword(HKEY key, const std::wstring& name, DWORD value) {
    const LONG result =
        ::RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value));
    if (result != ERROR_SUCCESS) RaiseSetFailure(result, name);
}

std::optional<DWORD> ReadRegistryDword(HKEY key, const std::wstring& name) {
    DWORD type = 0;
    DWORD value = 0;
    DWORD size = sizeof(value);
    const LONG result = ::RegQueryValueExW(key, name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value), &size);
    if (result != ERROR_SUCCESS || type != REG_DWORD || size != sizeof(value)) return std::nullopt;
    return value;
}

}  // namespace orv
