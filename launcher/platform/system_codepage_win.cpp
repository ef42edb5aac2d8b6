#include "launcher/platform/system_codepage_win.h"

#include <windows.h>

#include <climits>

#include "launcher/platform/wide_win.h"

namespace orv {
namespace {

std::string AnsiToUtf8System(std::string_view bytes) {
    if (bytes.empty() || bytes.size() > INT_MAX) return {};
    const int size = static_cast<int>(bytes.size());
    const int wide = ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, nullptr, 0);
    if (wide <= 0) return {};
    std::wstring text(static_cast<size_t>(wide), L'\0');
    ::MultiByteToWideChar(CP_ACP, 0, bytes.data(), size, text.data(), wide);
    return Narrow(text);
}

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

AnsiCodec SystemAnsiCodec() { return {&AnsiToUtf8System, &Utf8ToAnsiSystem}; }

}  // namespace orv
