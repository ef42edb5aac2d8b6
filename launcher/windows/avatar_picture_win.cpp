#include "launcher/windows/avatar_picture_win.h"

#include <wincodec.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "launcher/base/errors.h"
#include "launcher/platform/com_ptr_win.h"
#include "launcher/platform/scoped_win.h"

namespace orv {
namespace {

const char* FormatName(PictureFormat format) {
    switch (format) {
        case PictureFormat::Bitmap: return "bitmap";
        case PictureFormat::Jpeg: return "JPEG";
        case PictureFormat::Tiff: return "TIFF";
        case PictureFormat::Png: return "PNG";
        case PictureFormat::Metafile: return "Windows metafile";
        case PictureFormat::EnhancedMetafile: return "enhanced metafile";
        case PictureFormat::Gif: return "GIF";
        case PictureFormat::Icon: return "icon";
    }
    return "picture";
}

[[noreturn]] void RaiseDecodeError(PictureFormat format, uint32_t code) {
    std::string message = PlatformErrorMessage(code);
    if (message.empty()) {
        char hex[16];
        std::snprintf(hex, sizeof(hex), "0x%08X", static_cast<unsigned>(code));
        message = std::string("error ") + hex;
    }
    throw EOSError(code, std::string("The file is not a valid ") + FormatName(format) + " picture: " + message);
}

void Check(HRESULT hr, PictureFormat format) {
    if (FAILED(hr)) RaiseDecodeError(format, static_cast<uint32_t>(hr));
}

const GUID& ContainerOf(PictureFormat format) {
    switch (format) {
        case PictureFormat::Bitmap: return GUID_ContainerFormatBmp;
        case PictureFormat::Jpeg: return GUID_ContainerFormatJpeg;
        case PictureFormat::Tiff: return GUID_ContainerFormatTiff;
        case PictureFormat::Png: return GUID_ContainerFormatPng;
        case PictureFormat::Gif: return GUID_ContainerFormatGif;
        case PictureFormat::Icon: return GUID_ContainerFormatIco;
        case PictureFormat::Metafile:
        case PictureFormat::EnhancedMetafile: break;
    }
    throw Error("No imaging decoder for metafiles");
}

Picture DecodeWithImaging(std::string_view bytes, PictureFormat format, int fitWidth, int fitHeight) {
    if (bytes.empty() || bytes.size() > 0x7fffffff) RaiseDecodeError(format, static_cast<uint32_t>(E_INVALIDARG));
    ComApartment apartment;
    if (!apartment.Usable()) Check(apartment.Result(), format);
    ComPtr<IWICImagingFactory> factory;
    Check(::CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_IWICImagingFactory,
                             factory.PutVoid()),
          format);
    ComPtr<IWICStream> stream;
    Check(factory->CreateStream(stream.Put()), format);
    // The stream reads the caller's bytes in place; they outlive every use below.
    Check(stream->InitializeFromMemory(reinterpret_cast<BYTE*>(const_cast<char*>(bytes.data())),
                                       static_cast<DWORD>(bytes.size())),
          format);
    // The format's own decoder, not whichever one recognises the bytes: a file is what its name says.
    ComPtr<IWICBitmapDecoder> decoder;
    Check(factory->CreateDecoder(ContainerOf(format), nullptr, decoder.Put()), format);
    Check(decoder->Initialize(stream.Get(), WICDecodeMetadataCacheOnDemand), format);
    ComPtr<IWICBitmapFrameDecode> frame;
    Check(decoder->GetFrame(0, frame.Put()), format);
    ComPtr<IWICFormatConverter> converter;
    Check(factory->CreateFormatConverter(converter.Put()), format);
    Check(converter->Initialize(frame.Get(), GUID_WICPixelFormat32bppPBGRA, WICBitmapDitherTypeNone, nullptr, 0.0,
                                WICBitmapPaletteTypeCustom),
          format);
    UINT width = 0, height = 0;
    Check(converter->GetSize(&width, &height), format);
    if (width == 0 || height == 0) RaiseDecodeError(format, static_cast<uint32_t>(WINCODEC_ERR_BADIMAGE));
    const SIZE fit = FitSize(static_cast<int>(std::min<UINT>(width, 0x7fffffff)),
                             static_cast<int>(std::min<UINT>(height, 0x7fffffff)), fitWidth, fitHeight);
    // Scaling comes before the pixels are copied: only the rows the fitted picture needs are read.
    ComPtr<IWICBitmapScaler> scaler;
    Check(factory->CreateBitmapScaler(scaler.Put()), format);
    Check(scaler->Initialize(converter.Get(), static_cast<UINT>(fit.cx), static_cast<UINT>(fit.cy),
                             WICBitmapInterpolationModeFant),
          format);
    std::vector<uint32_t> pixels(static_cast<size_t>(fit.cx) * fit.cy);
    const UINT stride = static_cast<UINT>(fit.cx) * 4;
    Check(scaler->CopyPixels(nullptr, stride, stride * static_cast<UINT>(fit.cy), reinterpret_cast<BYTE*>(pixels.data())),
          format);
    return Picture::FromPixels(fit.cx, fit.cy, pixels.data());
}

// Plays a metafile into an opaque white picture of the fitted size.
Picture RenderMetafile(HENHMETAFILE metafile, int width, int height, int fitWidth, int fitHeight) {
    const SIZE fit = FitSize(width, height, fitWidth, fitHeight);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = fit.cx;
    info.bmiHeader.biHeight = -fit.cy;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const ScopedBitmap bitmap(::CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    if (!bitmap || !bits) RaiseLastPlatformError();
    const ScopedMemoryDc dc(::CreateCompatibleDC(nullptr));
    if (!dc) RaiseLastPlatformError();
    {
        const SelectObjectScope select(dc.Get(), bitmap.Get());
        const RECT area{0, 0, fit.cx, fit.cy};
        ::FillRect(dc.Get(), &area, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
        if (!::PlayEnhMetaFile(dc.Get(), metafile, &area)) RaiseLastPlatformError();
        ::GdiFlush();
    }
    // GDI leaves the alpha bytes alone: the picture is opaque.
    auto* pixels = static_cast<uint32_t*>(bits);
    for (size_t i = 0, n = static_cast<size_t>(fit.cx) * fit.cy; i < n; ++i) pixels[i] |= 0xFF000000u;
    return Picture::FromPixels(fit.cx, fit.cy, pixels);
}

int16_t Int16At(std::string_view bytes, size_t at) {
    return static_cast<int16_t>(static_cast<unsigned char>(bytes[at]) | (static_cast<unsigned char>(bytes[at + 1]) << 8));
}

Picture DecodeEnhancedMetafile(std::string_view bytes, int fitWidth, int fitHeight) {
    const ScopedEnhMetaFile metafile(
        ::SetEnhMetaFileBits(static_cast<UINT>(bytes.size()), reinterpret_cast<const BYTE*>(bytes.data())));
    if (!metafile) RaiseDecodeError(PictureFormat::EnhancedMetafile, ::GetLastError());
    ENHMETAHEADER header{};
    if (!::GetEnhMetaFileHeader(metafile.Get(), sizeof(header), &header))
        RaiseDecodeError(PictureFormat::EnhancedMetafile, ::GetLastError());
    const int width = header.rclBounds.right - header.rclBounds.left + 1;
    const int height = header.rclBounds.bottom - header.rclBounds.top + 1;
    return RenderMetafile(metafile.Get(), std::max(width, 1), std::max(height, 1), fitWidth, fitHeight);
}

// A Windows metafile, with the placeable header that names its size (the usual ".wmf" file) or
// without it.
Picture DecodeWindowsMetafile(std::string_view bytes, int fitWidth, int fitHeight) {
    constexpr size_t kPlaceableHeader = 22;
    const bool placeable = bytes.size() > kPlaceableHeader && bytes.substr(0, 4) == std::string_view("\xD7\xCD\xC6\x9A", 4);
    int width = fitWidth, height = fitHeight;
    METAFILEPICT picture{MM_ANISOTROPIC, 0, 0, nullptr};
    std::string_view records = bytes;
    if (placeable) {
        const int inch = static_cast<uint16_t>(Int16At(bytes, 14));
        width = std::abs(Int16At(bytes, 10) - Int16At(bytes, 6));
        height = std::abs(Int16At(bytes, 12) - Int16At(bytes, 8));
        if (inch > 0) {
            picture.xExt = ::MulDiv(width, 2540, inch);
            picture.yExt = ::MulDiv(height, 2540, inch);
            width = ::MulDiv(width, 96, inch);
            height = ::MulDiv(height, 96, inch);
        }
        records = bytes.substr(kPlaceableHeader);
    }
    if (records.size() > 0x7fffffff) RaiseDecodeError(PictureFormat::Metafile, ERROR_INVALID_DATA);
    const ScopedEnhMetaFile metafile(::SetWinMetaFileBits(static_cast<UINT>(records.size()),
                                                          reinterpret_cast<const BYTE*>(records.data()), nullptr,
                                                          picture.xExt > 0 && picture.yExt > 0 ? &picture : nullptr));
    if (!metafile) RaiseDecodeError(PictureFormat::Metafile, ::GetLastError() ? ::GetLastError() : ERROR_INVALID_DATA);
    return RenderMetafile(metafile.Get(), std::max(width, 1), std::max(height, 1), fitWidth, fitHeight);
}

}  // namespace

SIZE FitSize(int width, int height, int fitWidth, int fitHeight) {
    if (width <= 0 || height <= 0) return SIZE{std::max(fitWidth, 1), std::max(fitHeight, 1)};
    // Compare width / height with fitWidth / fitHeight without rounding: the side that fills decides.
    const int64_t w = width, h = height;
    SIZE size{};
    if (w * fitHeight >= h * fitWidth) {
        size.cx = fitWidth;
        size.cy = static_cast<LONG>((h * fitWidth + w / 2) / w);
    } else {
        size.cy = fitHeight;
        size.cx = static_cast<LONG>((w * fitHeight + h / 2) / h);
    }
    size.cx = std::max<LONG>(size.cx, 1);
    size.cy = std::max<LONG>(size.cy, 1);
    return size;
}

Picture DecodePicture(std::string_view bytes, PictureFormat format, int fitWidth, int fitHeight) {
    switch (format) {
        case PictureFormat::EnhancedMetafile:
            return DecodeEnhancedMetafile(bytes, fitWidth, fitHeight);
        case PictureFormat::Metafile:
            return DecodeWindowsMetafile(bytes, fitWidth, fitHeight);
        default:
            return DecodeWithImaging(bytes, format, fitWidth, fitHeight);
    }
}

}  // namespace orv
