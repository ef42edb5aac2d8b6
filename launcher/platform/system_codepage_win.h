// The catalogue's conversions in the system's ANSI code page, as the machine's own programs and the
// profile-file services read and write 8-bit text.
#pragma once

#include "launcher/base/codepage.h"

namespace orv {

// CP_ACP to and from UTF-8; what does not convert becomes the platform's replacement character.
// The portable tables hold three code pages only; the platform knows every one a machine may be
// set to (1250, 1253, 932, ...), so a server text reads as the machine's own programs read it.
AnsiCodec SystemAnsiCodec();

// The system's ANSI code page for the readers of server lists: its table where this module has one,
// otherwise the platform, where a byte the page leaves undefined makes the text not lossless.
AnsiTextDecoder SystemAnsiTextDecoder();

// `bytes` in the Windows code page `codePage` as UTF-8, as MultiByteToWideChar converts them.
// Raises EOSError for a code page the system does not have.
std::string AnsiToUtf8InCodePage(std::string_view bytes, unsigned codePage);

}  // namespace orv
