// The picture formats of the avatar window: recognised from a file's first bytes (the stored
// avatar's ".dat" name tells nothing) or from a picked file's extension.
#pragma once

#include <optional>
#include <string_view>

namespace orv {

enum class PictureFormat { Bitmap, Jpeg, Tiff, Png, Metafile, EnhancedMetafile, Gif, Icon };

// Files shorter than this are never recognised by their content.
inline constexpr size_t MinRecognisedPictureSize = 44;

// The format the first bytes announce; nothing for a file shorter than 44 bytes or without a
// known signature. The first 16-bit word decides (BM, FF D8, II or MM with the TIFF marker); any
// other word is tried, in this order, as PNG, placeable Windows metafile, enhanced metafile, GIF
// and icon.
std::optional<PictureFormat> PictureFormatOfContent(std::string_view bytes);

// The format a file extension (without its dot, any letter case) stands for: gif, jpg, jpeg, png,
// bmp, tif, tiff, ico, emf, wmf; nothing for any other.
std::optional<PictureFormat> PictureFormatOfExtension(std::string_view extension);

// The extension of a path: what follows its last dot after the last folder separator; empty when
// there is none.
std::string_view ExtensionOf(std::string_view path);

}  // namespace orv
