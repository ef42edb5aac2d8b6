// The launcher's interface font: every window and its controls are set in it, and the main
// window's labels in its bold cut.
#pragma once

#include <windows.h>

#include "launcher/ui/window_win.h"

namespace orv {

// Gives `window` and the controls it has the interface font. Raises EOSError when the platform
// refuses the font.
void ApplyUiFont(Window& window);
// The same face at a character height in pixels (LOGFONT's negative lfHeight), for a window whose
// layout gives the height rather than the size.
void ApplyUiFontHeight(Window& window, int height);

// The bold cut of the font `window` carries (after ApplyUiFont, of the interface font), owned by
// the caller, who keeps it as long as the controls it is given to. Raises EOSError when the
// platform refuses the font.
ScopedFont BoldUiFont(const Window& window);

}  // namespace orv
