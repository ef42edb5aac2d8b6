// The catalogue's conversions in the system's ANSI code page, as the machine's own programs and the
// profile-file services read and write 8-bit text.
#pragma once

#include "launcher/catalogue_reader.h"

namespace orv {

// CP_ACP to and from UTF-8; what does not convert becomes the platform's replacement character.
AnsiCodec SystemAnsiCodec();

}  // namespace orv
