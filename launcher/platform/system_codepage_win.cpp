#include "launcher/platform/system_codepage_win.h"

#include <windows.h>

#include <climits>
#include <optional>

#include "launcher/base/errors.h"
#include "launcher/platform/wide_win.h"

namespace orv {
namespace {

std::string AnsiToUtf8System(std::string_view bytes) { return AnsiToUtf8InCodePage(bytes, CP_ACP); }

std::string Utf8ToAnsiSystem(std::string_view utf8) {
    const std::wstring text = Wide(std::string(utf8));
    if (text.empty() || text.size() > INT_MAX) return {};
    const int size = static_cast<int>(text.size());
    const int length = ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return {};
    std::string bytes(static_cast<size_t>(length), '\0');
    ::WideCharToMultiByte(CP_ACP, 0, text.data(), size, bytes.data(), length, nullptr, nullptr);
    return bytes;
}

}  // namespace

std::string AnsiToUtf8InCodePage(std::string_view bytes, unsigned codePage) {
    if (bytes.empty() || bytes.size() > INT_MAX) return {};
    const int size = static_cast<int>(bytes.size());
    // Without MB_ERR_INVALID_CHARS a byte the page leaves undefined becomes a replacement character,
    // so this fails only for a code page the system does not have.
    const int wide = ::MultiByteToWideChar(codePage, 0, bytes.data(), size, nullptr, 0);
    if (wide <= 0) RaiseLastPlatformError();
    std::wstring text(static_cast<size_t>(wide), L'\0');
    if (::MultiByteToWideChar(codePage, 0, bytes.data(), size, text.data(), wide) != wide) RaiseLastPlatformError();
    return Narrow(text);
}

AnsiCodec SystemAnsiCodec() { return {&AnsiToUtf8System, &Utf8ToAnsiSystem}; }

AnsiTextDecoder SystemAnsiTextDecoder() {
    const unsigned system = ::GetACP();
    if (const std::optional<CodePage> page = CodePageFromNumber(static_cast<int>(system))) return *page;
    return AnsiTextDecoder([system](std::string_view bytes) {
        CodePageText result;
        result.text = AnsiToUtf8InCodePage(bytes, system);
        // A strict pass tells whether every byte was defined; the platform does not say which was not.
        if (!bytes.empty() && bytes.size() <= INT_MAX &&
            ::MultiByteToWideChar(system, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()), nullptr,
                                  0) == 0)
            result.lossless = false;
        return result;
    });
}

}  // namespace orv
