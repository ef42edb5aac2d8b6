#include "launcher/ui/picture_win.h"

#include <wincodec.h>

#include <cstring>
#include <string>

#include "launcher/base/errors.h"
#include "launcher/platform/scoped_win.h"

namespace orv {
namespace {

[[noreturn]] void RaiseComError(HRESULT hr, const char* what) {
    throw EOSError(static_cast<uint32_t>(hr), std::string(what) + ": " + PlatformErrorMessage(static_cast<uint32_t>(hr)));
}

void Check(HRESULT hr, const char* what) {
    if (FAILED(hr)) RaiseComError(hr, what);
}

// A top-down 32-bit DIB section; `pixels` receives its bits.
ScopedBitmap CreatePixelBitmap(int width, int height, uint32_t** pixels) {
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    ScopedBitmap bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) RaiseLastPlatformError();
    *pixels = static_cast<uint32_t*>(bits);
    return bitmap;
}

void Blend(HDC dc, const Picture& picture, int x, int y, int width, int height) {
    if (picture.Empty() || width <= 0 || height <= 0) return;
    ScopedMemoryDc memory(::CreateCompatibleDC(dc));
    if (!memory) return;
    const SelectObjectScope select(memory.Get(), picture.Bitmap());
    BLENDFUNCTION blend{AC_SRC_OVER, 0, 255, AC_SRC_ALPHA};
    ::GdiAlphaBlend(dc, x, y, width, height, memory.Get(), 0, 0, picture.Width(), picture.Height(), blend);
}

}  // namespace

Picture Picture::FromPixels(int width, int height, const uint32_t* pixels) {
    Picture picture;
    if (width <= 0 || height <= 0) return picture;
    picture.bitmap_ = CreatePixelBitmap(width, height, &picture.pixels_);
    picture.width_ = width;
    picture.height_ = height;
    ::GdiFlush();
    std::memcpy(picture.pixels_, pixels, static_cast<size_t>(width) * height * sizeof(uint32_t));
    return picture;
}

Picture Picture::Copy() const {
    if (Empty()) return Picture();
    ::GdiFlush();
    return FromPixels(width_, height_, pixels_);
}

bool Picture::SamePixels(const Picture& other) const noexcept {
    if (width_ != other.width_ || height_ != other.height_) return false;
    if (Empty() || other.Empty()) return Empty() == other.Empty();
    ::GdiFlush();
    return std::memcmp(pixels_, other.pixels_, static_cast<size_t>(width_) * height_ * sizeof(uint32_t)) == 0;
}

void Picture::Draw(HDC dc, int x, int y) const { Blend(dc, *this, x, y, width_, height_); }

void Picture::DrawStretched(HDC dc, const RECT& target) const {
    const int previous = ::SetStretchBltMode(dc, HALFTONE);
    Blend(dc, *this, target.left, target.top, target.right - target.left, target.bottom - target.top);
    ::SetStretchBltMode(dc, previous);
}

PictureDecoder::PictureDecoder() {
    if (!apartment_.Usable()) RaiseComError(apartment_.Result(), "COM");
    Check(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                             factory_.PutVoid()),
          "Windows Imaging Component");
}

PictureDecoder::~PictureDecoder() = default;

Picture PictureDecoder::Decode(const void* data, size_t size) {
    if (!data || size == 0 || size > 0x7fffffff) throw Error("Not a picture");
    ComPtr<IWICStream> stream;
    Check(factory_->CreateStream(stream.Put()), "Picture stream");
    // The stream reads the caller's bytes in place; they outlive every use below.
    Check(stream->InitializeFromMemory(static_cast<BYTE*>(const_cast<void*>(data)), static_cast<DWORD>(size)),
          "Picture stream");
    ComPtr<IWICBitmapDecoder> decoder;
    if (FAILED(factory_->CreateDecoderFromStream(stream.Get(), nullptr, WICDecodeMetadataCacheOnDemand,
                                                 decoder.Put())))
        throw Error("Not a picture");
    ComPtr<IWICBitmapFrameDecode> frame;
    Check(decoder->GetFrame(0, frame.Put()), "Picture frame");
    ComPtr<IWICFormatConverter> converter;
    Check(factory_->CreateFormatConverter(converter.Put()), "Picture conversion");
    Check(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                WICBitmapPaletteTypeCustom),
          "Picture conversion");
    UINT width = 0, height = 0;
    Check(converter->GetSize(&width, &height), "Picture size");
    // Window pictures are small; anything this large is a damaged file, not artwork.
    if (width == 0 || height == 0 || width > 8192 || height > 8192) throw Error("Picture size out of range");
    Picture picture;
    picture.bitmap_ = CreatePixelBitmap(static_cast<int>(width), static_cast<int>(height), &picture.pixels_);
    picture.width_ = static_cast<int>(width);
    picture.height_ = static_cast<int>(height);
    const UINT stride = width * 4;
    Check(converter->CopyPixels(nullptr, stride, stride * height, reinterpret_cast<BYTE*>(picture.pixels_)),
          "Picture pixels");
    return picture;
}

Picture PictureDecoder::DecodeResource(HMODULE module, int resourceId) {
    const HRSRC found = ::FindResourceW(module, MAKEINTRESOURCEW(resourceId), RT_RCDATA);
    if (!found) return Picture();
    const HGLOBAL loaded = ::LoadResource(module, found);
    const void* data = loaded ? ::LockResource(loaded) : nullptr;
    const DWORD size = ::SizeofResource(module, found);
    if (!data || size == 0) RaiseLastPlatformError();
    return Decode(data, size);
}

}  // namespace orv
