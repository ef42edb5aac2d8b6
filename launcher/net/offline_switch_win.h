// The system-wide work-offline switch of the Internet settings. Left on (by a browser or an earlier
// session), it keeps the embedded browser and WinInet from going to the network at all.
#pragma once

#include <windows.h>

#include <string>

namespace orv {

// Under HKEY_CURRENT_USER, "Software\Microsoft\Windows\CurrentVersion\Internet Settings"
// (not created when missing): a "GlobalUserOffline" value that is the 32-bit integer 1 becomes 0.
// Any other value, type or a missing value is left alone. Raises EOSError when the platform
// refuses the write.
void CheckGlobalUserOffline();

// The same for any key; true when it wrote 0.
bool ClearGlobalUserOffline(HKEY root, const std::wstring& subkey);

}  // namespace orv
