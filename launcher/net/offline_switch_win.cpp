#include "launcher/net/offline_switch_win.h"

#include <optional>

#include "launcher/platform/registry_win.h"

namespace orv {
namespace {

constexpr wchar_t kInternetSettings[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr wchar_t kGlobalUserOffline[] = L"GlobalUserOffline";

}  // namespace

void CheckGlobalUserOffline() { ClearGlobalUserOffline(HKEY_CURRENT_USER, kInternetSettings); }

bool ClearGlobalUserOffline(HKEY root, const std::wstring& subkey) {
    const std::optional<RegistryKey> key = OpenRegistryKey(root, subkey, KEY_QUERY_VALUE | KEY_SET_VALUE);
    if (!key) return false;
    // Only the integer 1 means "offline"; a value of another type is not ours to interpret.
    if (ReadRegistryDword(key->Get(), kGlobalUserOffline) != DWORD{1}) return false;
    SetRegistryDword(key->Get(), kGlobalUserOffline, 0);
    return true;
}

}  // namespace orv
