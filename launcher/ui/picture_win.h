// Pictures of the windows: 32-bit premultiplied BGRA bitmaps decoded from PNG resources with the
// Windows Imaging Component, drawn with their transparency over whatever lies below them.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>

#include "launcher/platform/com_ptr_win.h"
#include "launcher/ui/window_win.h"

struct IWICImagingFactory;

namespace orv {

class Picture {
public:
    Picture() = default;
    Picture(Picture&&) noexcept = default;
    Picture& operator=(Picture&&) noexcept = default;
    Picture(const Picture&) = delete;
    Picture& operator=(const Picture&) = delete;

    // A picture of the given size with its pixels copied from `pixels` (premultiplied BGRA, rows
    // top-down, `width` pixels each). Raises EOSError when the platform has no room for it.
    static Picture FromPixels(int width, int height, const uint32_t* pixels);
    // An independent copy: a control that shows a stored picture must not share its bitmap.
    Picture Copy() const;

    bool Empty() const noexcept { return !bitmap_; }
    int Width() const noexcept { return width_; }
    int Height() const noexcept { return height_; }
    HBITMAP Bitmap() const noexcept { return bitmap_.Get(); }
    // Premultiplied BGRA, rows top-down; nullptr for an empty picture.
    const uint32_t* Pixels() const noexcept { return pixels_; }
    uint32_t PixelAt(int x, int y) const noexcept { return pixels_[static_cast<size_t>(y) * width_ + x]; }
    bool SamePixels(const Picture& other) const noexcept;

    // Blends the picture at its own size with its top-left corner at x, y.
    void Draw(HDC dc, int x, int y) const;
    // Blends the picture scaled to fill `target`.
    void DrawStretched(HDC dc, const RECT& target) const;

private:
    friend class PictureDecoder;

    ScopedBitmap bitmap_;
    uint32_t* pixels_ = nullptr;  // inside the DIB section, owned by bitmap_
    int width_ = 0;
    int height_ = 0;
};

// Decodes picture files (PNG and whatever else the imaging component reads) on the calling
// thread, which it joins to a COM apartment for the decoder's lifetime.
class PictureDecoder {
public:
    // Raises EOSError when the imaging component is not available.
    PictureDecoder();
    ~PictureDecoder();
    PictureDecoder(const PictureDecoder&) = delete;
    PictureDecoder& operator=(const PictureDecoder&) = delete;

    // The first frame of an encoded picture. Raises Error when the bytes are no picture.
    Picture Decode(const void* data, size_t size);
    // The picture stored as an RCDATA resource of `module`; an empty picture when the module has
    // no such resource (a program built without the artwork). Raises Error for a broken one.
    Picture DecodeResource(HMODULE module, int resourceId);

private:
    ComApartment apartment_;
    ComPtr<IWICImagingFactory> factory_;
};

}  // namespace orv
