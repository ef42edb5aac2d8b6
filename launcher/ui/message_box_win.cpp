#include "launcher/ui/message_box_win.h"

#include <windows.h>

#include "launcher/platform/wide_win.h"

namespace orv {

MsgResult Win32MessageBox(const MessageRequest& request) {
    HWND owner = static_cast<HWND>(request.owner);
    // A box owned by a window that is gone would not be shown at all.
    if (owner && !::IsWindow(owner)) owner = nullptr;
    const int answer =
        ::MessageBoxW(owner, Wide(request.text).c_str(), Wide(request.caption).c_str(), request.flags);
    if (answer < static_cast<int>(MsgResult::Ok) || answer > static_cast<int>(MsgResult::No)) return MsgResult::None;
    return static_cast<MsgResult>(answer);
}

}  // namespace orv
