#include <windows.h>

#include "launcher/base/errors.h"
#include "launcher/platform/file_helpers.h"
#include "launcher/platform/files.h"
#include "launcher/platform/wide_win.h"

namespace orv {

std::string GetShortPath(const std::string& path) {
    // One unit is kept back from the platform call, so a result of MAX_PATH - 1 units or more
    // means the short form did not fit.
    constexpr DWORD kBufferUnits = MAX_PATH;
    constexpr DWORD kOffered = kBufferUnits - 1;
    wchar_t buffer[kBufferUnits] = {};
    const DWORD length = ::GetShortPathNameW(Wide(path).c_str(), buffer, kOffered);
    if (length == 0 || length >= kOffered) return {};
    return Narrow(std::wstring(buffer, length));
}

void CreateEmptyFile(const std::string& path) {
    // Windows refuses to truncate a read-only file even for administrators; Wine run as root would
    // not, so the attribute is honoured here, where both then agree.
    const DWORD attributes = ::GetFileAttributesW(Wide(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) &&
        !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        throw EOSError(ERROR_ACCESS_DENIED, PlatformErrorMessage(ERROR_ACCESS_DENIED));
    File::Create(path).Close();
}

int64_t FileSize64(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!::GetFileAttributesExW(Wide(path).c_str(), GetFileExInfoStandard, &data)) return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

}  // namespace orv
