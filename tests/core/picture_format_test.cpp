#include "launcher/windows/picture_format.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>

namespace orv {
namespace {

// `head` followed by zeros up to `size` bytes.
std::string Padded(const std::string& head, size_t size = 44) {
    std::string bytes = head;
    bytes.resize(std::max(size, head.size()), '\0');
    return bytes;
}

std::string Emf(uint32_t first, uint32_t signature) {
    std::string bytes(44, '\0');
    for (int i = 0; i < 4; ++i) {
        bytes[i] = static_cast<char>(first >> (8 * i));
        bytes[40 + i] = static_cast<char>(signature >> (8 * i));
    }
    return bytes;
}

TEST(PictureFormat, TheFirstBytesDecideInTheirOrder) {
    using F = PictureFormat;
    const std::string png("\x89PNG\r\n\x1A\n", 8);
    const struct {
        const char* what;
        std::string bytes;
        std::optional<PictureFormat> format;
    } cases[] = {
        {"empty", "", std::nullopt},
        {"43 bytes of a bitmap", Padded("BM", 43), std::nullopt},
        {"44 bytes of a bitmap", Padded("BM"), F::Bitmap},
        {"JPEG", Padded("\xFF\xD8\xFF\xE0"), F::Jpeg},
        {"TIFF little-endian", Padded(std::string("II\x2A\0", 4)), F::Tiff},
        {"TIFF big-endian", Padded(std::string("MM\0\x2A", 4)), F::Tiff},
        {"II with the wrong second word", Padded(std::string("II\0\x2A", 4)), std::nullopt},
        {"MM with the wrong second word", Padded(std::string("MM\x2A\0", 4)), std::nullopt},
        // II and MM decide alone: an icon's second word 1 after them does not count.
        {"II then 1", Padded(std::string("II\x01\0", 4)), std::nullopt},
        {"PNG", Padded(png), F::Png},
        {"PNG signature cut after seven bytes", Padded(png.substr(0, 7)), std::nullopt},
        {"placeable metafile", Padded("\xD7\xCD\xC6\x9A"), F::Metafile},
        {"enhanced metafile", Emf(1, 0x464D4520), F::EnhancedMetafile},
        {"record 1 without the EMF signature", Emf(1, 0x464D4521), std::nullopt},
        {"EMF signature after another record type", Emf(2, 0x464D4520), std::nullopt},
        {"GIF87a", Padded("GIF87a"), F::Gif},
        {"GIF89a", Padded("GIF89a"), F::Gif},
        {"icon", Padded(std::string("\0\0\x01\0", 4)), F::Icon},
        {"cursor", Padded(std::string("\0\0\x02\0", 4)), std::nullopt},
        // The metafile tests come before the icon test: a second word 1 does not make them icons.
        {"plain text", Padded("hello, world"), std::nullopt},
        {"big-endian BM", Padded("MB"), std::nullopt},
    };
    for (const auto& c : cases) EXPECT_EQ(PictureFormatOfContent(c.bytes), c.format) << c.what;
}

TEST(PictureFormat, ExtensionsNameTheirDecoderInAnyLetterCase) {
    using F = PictureFormat;
    const struct {
        const char* path;
        std::optional<PictureFormat> format;
        const char* extension;
    } cases[] = {
        {"C:\\a\\b.gif", F::Gif, "gif"},       {"C:\\a\\b.JPG", F::Jpeg, "JPG"},
        {"b.jpeg", F::Jpeg, "jpeg"},           {"b.Png", F::Png, "Png"},
        {"b.bmp", F::Bitmap, "bmp"},           {"b.tif", F::Tiff, "tif"},
        {"b.tiff", F::Tiff, "tiff"},           {"b.ico", F::Icon, "ico"},
        {"b.emf", F::EnhancedMetafile, "emf"}, {"b.wmf", F::Metafile, "wmf"},
        {"C:\\x\\avatar.dat", std::nullopt, "dat"}, {"C:\\x.y\\noext", std::nullopt, ""},
        {"b.png.txt", std::nullopt, "txt"},    {"b.", std::nullopt, ""},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ExtensionOf(c.path), c.extension) << c.path;
        EXPECT_EQ(PictureFormatOfExtension(ExtensionOf(c.path)), c.format) << c.path;
    }
}

}  // namespace
}  // namespace orv
