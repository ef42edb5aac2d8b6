#include <windows.h>

#include "launcher/config/launcher_settings.h"
#include "launcher/platform/wide_win.h"

namespace orv {

std::string DefaultPlayerName() {
    wchar_t buffer[256] = {};
    // One character less than the buffer holds: the terminator always fits.
    DWORD size = 255;
    if (!::GetUserNameW(buffer, &size)) return "You Name";
    return Narrow(buffer);
}

}  // namespace orv
