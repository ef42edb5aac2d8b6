// Decoding of the avatar window's pictures: the bitmap formats through the Windows Imaging
// Component, each with the decoder of its own format only, and the two metafile formats through
// GDI. The result is scaled to fit a box, keeping its proportions, so that even a very large
// picture costs no more than the box it is shown in.
#pragma once

#include <string>
#include <string_view>

#include "launcher/ui/picture_win.h"
#include "launcher/windows/picture_format.h"

namespace orv {

// The picture `bytes` hold, decoded as `format`, scaled to the largest size that fits in
// fitWidth x fitHeight with its proportions kept. Raises Error (EOSError from the platform) with
// the decoder's message when the bytes do not decode as that format.
Picture DecodePicture(std::string_view bytes, PictureFormat format, int fitWidth, int fitHeight);

// The largest size within fitWidth x fitHeight with the proportions of width x height; at least one
// pixel each way.
SIZE FitSize(int width, int height, int fitWidth, int fitHeight);

}  // namespace orv
