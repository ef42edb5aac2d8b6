// The Win32 side of the message-box seam.
#pragma once

#include "launcher/base/message_box.h"

namespace orv {

// The message-box seam's handler: MessageBoxW with the request's text, caption, flags and owner.
MsgResult Win32MessageBox(const MessageRequest& request);

}  // namespace orv
