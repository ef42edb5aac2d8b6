// Registry keys owned through the one handle template, and the few value operations the launcher
// needs, with the platform's message on a refusal.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

#include "launcher/platform/scoped_win.h"

namespace orv {

// Opens an existing subkey with `access`; nothing when it is missing or refused (the cause is the
// platform's result code in `status` when given).
std::optional<RegistryKey> OpenRegistryKey(HKEY parent, const std::wstring& subkey, REGSAM access,
                                           LONG* status = nullptr);
// Creates the subkey when missing, then opens it with `access`; nothing when refused.
std::optional<RegistryKey> CreateRegistryKey(HKEY parent, const std::wstring& subkey, REGSAM access,
                                             LONG* status = nullptr);

// Sets a string value (REG_SZ); an empty name is the key's default value. Raises EOSError.
void SetRegistryString(HKEY key, const std::wstring& name, const std::wstring& value);
// Sets a 32-bit value (REG_DWORD). Raises EOSError.
void SetRegistryDword(HKEY key, const std::wstring& name, DWORD value);
// The value when it exists and is a REG_DWORD; nothing otherwise.
std::optional<DWORD> ReadRegistryDword(HKEY key, const std::wstring& name);

}  // namespace orv
