#include "launcher/ui/tooltip_win.h"

#include <commctrl.h>

#include "launcher/base/errors.h"
#include "launcher/platform/wide_win.h"
#include "launcher/ui/message_loop_win.h"

namespace orv {
namespace {

TTTOOLINFOW ToolOf(HWND control) {
    TTTOOLINFOW tool{};
    tool.cbSize = sizeof(tool);
    tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
    tool.hwnd = ::GetParent(control);
    tool.uId = reinterpret_cast<UINT_PTR>(control);
    return tool;
}

}  // namespace

void HintWindow::Create(HWND owner) {
    if (window_) return;
    ScopedWindow window(::CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                                          CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr,
                                          ApplicationInstance(), nullptr));
    if (!window) RaiseLastPlatformError();
    window_ = std::move(window);
}

void HintWindow::SetHint(const Control& control, const std::string& text) {
    const HWND hwnd = control.ControlHandle();
    if (!window_ || !hwnd) return;
    const bool known = texts_.count(hwnd) != 0;
    std::wstring& stored = texts_[hwnd];
    stored = Wide(text);
    TTTOOLINFOW tool = ToolOf(hwnd);
    tool.lpszText = stored.data();
    if (known) {
        ::SendMessageW(window_.Get(), TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
    } else if (!::SendMessageW(window_.Get(), TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool))) {
        texts_.erase(hwnd);
        throw Error("The hint of " + control.Name() + " was refused");
    }
}

std::string HintWindow::Hint(const Control& control) const {
    const HWND hwnd = control.ControlHandle();
    if (!window_ || !hwnd) return {};
    wchar_t buffer[512] = {};
    TTTOOLINFOW tool = ToolOf(hwnd);
    tool.lpszText = buffer;
    ::SendMessageW(window_.Get(), TTM_GETTEXTW, sizeof(buffer) / sizeof(buffer[0]), reinterpret_cast<LPARAM>(&tool));
    return Narrow(buffer);
}

}  // namespace orv
