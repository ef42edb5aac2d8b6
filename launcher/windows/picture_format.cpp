#include "launcher/windows/picture_format.h"

#include <cstdint>
#include <string>

namespace orv {
namespace {

uint16_t Word(std::string_view bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                 (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

uint32_t Dword(std::string_view bytes, size_t at) {
    return static_cast<uint32_t>(Word(bytes, at)) | (static_cast<uint32_t>(Word(bytes, at + 2)) << 16);
}

}  // namespace

std::optional<PictureFormat> PictureFormatOfContent(std::string_view bytes) {
    if (bytes.size() < MinRecognisedPictureSize) return std::nullopt;
    const uint16_t first = Word(bytes, 0);
    const uint16_t second = Word(bytes, 2);
    switch (first) {
        case 0x4D42:
            return PictureFormat::Bitmap;
        case 0xD8FF:
            return PictureFormat::Jpeg;
        case 0x4949:
            if (second == 0x002A) return PictureFormat::Tiff;
            return std::nullopt;
        case 0x4D4D:
            if (second == 0x2A00) return PictureFormat::Tiff;
            return std::nullopt;
        default:
            break;
    }
    if (bytes.substr(0, 8) == std::string_view("\x89PNG\r\n\x1A\n", 8)) return PictureFormat::Png;
    if (Dword(bytes, 0) == 0x9AC6CDD7) return PictureFormat::Metafile;
    if (Dword(bytes, 0) == 1 && Dword(bytes, 40) == 0x464D4520) return PictureFormat::EnhancedMetafile;
    if (bytes.substr(0, 3) == "GIF") return PictureFormat::Gif;
    if (second == 1) return PictureFormat::Icon;
    return std::nullopt;
}

std::optional<PictureFormat> PictureFormatOfExtension(std::string_view extension) {
    std::string lower(extension);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    const struct {
        const char* extension;
        PictureFormat format;
    } kFormats[] = {
        {"gif", PictureFormat::Gif},  {"jpg", PictureFormat::Jpeg},  {"jpeg", PictureFormat::Jpeg},
        {"png", PictureFormat::Png},  {"bmp", PictureFormat::Bitmap}, {"tif", PictureFormat::Tiff},
        {"tiff", PictureFormat::Tiff}, {"ico", PictureFormat::Icon},  {"emf", PictureFormat::EnhancedMetafile},
        {"wmf", PictureFormat::Metafile},
    };
    for (const auto& row : kFormats)
        if (lower == row.extension) return row.format;
    return std::nullopt;
}

std::string_view ExtensionOf(std::string_view path) {
    const size_t separator = path.find_last_of("\\/:");
    const size_t dot = path.rfind('.');
    if (dot == std::string_view::npos || (separator != std::string_view::npos && dot < separator)) return {};
    return path.substr(dot + 1);
}

}  // namespace orv
