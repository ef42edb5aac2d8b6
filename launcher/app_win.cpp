#include "launcher/app_win.h"

#include <windows.h>

#include "launcher/base/app_state.h"
#include "launcher/base/errors.h"
#include "launcher/platform/wide_win.h"

namespace orv {

std::vector<std::string> CommandLineArguments;
StartMode StartModeValue = StartMode::Normal;

std::string ExecutablePath() {
    std::wstring buffer(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (n == 0) RaiseLastPlatformError();
        // A full buffer means the path was cut; paths are at most 32767 characters.
        if (n < buffer.size()) {
            buffer.resize(n);
            return Narrow(buffer);
        }
        if (buffer.size() >= 32768) throw EOSError(ERROR_INSUFFICIENT_BUFFER, PlatformErrorMessage(ERROR_INSUFFICIENT_BUFFER));
        buffer.resize(buffer.size() * 2);
    }
}

std::string ExecutableFolder() {
    const std::string path = ExecutablePath();
    const auto slash = path.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void SetApplicationTitle(const std::string& title) { ApplicationTitle = title; }

}  // namespace orv
