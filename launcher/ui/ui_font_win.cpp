#include "launcher/ui/ui_font_win.h"

#include "launcher/base/errors.h"

namespace orv {
namespace {

constexpr const wchar_t* kUiFontFace = L"Tahoma";
constexpr int kUiFontPoints = 8;

}  // namespace

void ApplyUiFont(Window& window) { window.SetFont(kUiFontFace, kUiFontPoints); }

void ApplyUiFontHeight(Window& window, int height) { window.SetFontHeight(kUiFontFace, height); }

ScopedFont BoldUiFont(const Window& window) {
    LOGFONTW bold{};
    ::GetObjectW(window.Font(), sizeof(bold), &bold);
    bold.lfWeight = FW_BOLD;
    ScopedFont font(::CreateFontIndirectW(&bold));
    if (!font) RaiseLastPlatformError();
    return font;
}

}  // namespace orv
