// Hints: a short text that the system shows in a tooltip while the pointer rests on a control.
#pragma once

#include <windows.h>

#include <map>
#include <string>

#include "launcher/platform/scoped_win.h"
#include "launcher/ui/controls_win.h"

namespace orv {

class HintWindow {
public:
    HintWindow() = default;
    HintWindow(const HintWindow&) = delete;
    HintWindow& operator=(const HintWindow&) = delete;

    // Creates the tooltip window for the controls of `owner`. Raises EOSError when the platform
    // refuses it.
    void Create(HWND owner);
    // Gives `control` the hint `text` (UTF-8), replacing the one it had.
    void SetHint(const Control& control, const std::string& text);
    // The hint of a control as the tooltip holds it; empty when it has none.
    std::string Hint(const Control& control) const;
    HWND Handle() const noexcept { return window_.Get(); }

private:
    ScopedWindow window_;
    std::map<HWND, std::wstring> texts_;  // the tooltip keeps a pointer to each text
};

}  // namespace orv
