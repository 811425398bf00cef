#include "image/logo_bitmap.h"

#include "image/logo_pixels.h"
#include "image/logo_scale.h"
#include "image/pixel_path.h"

namespace {

// Whole pages straight from the system: the process heap would keep the pages of this
// one-off decode (the image is freed once the bitmap holds it) committed for good.
void* AllocatePages(uint32_t size) {
    return VirtualAlloc(nullptr, size, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void ReleasePages(void* block) { VirtualFree(block, 0, MEM_RELEASE); }

constexpr PngAllocator kPageAllocator = {AllocatePages, ReleasePages};

}  // namespace

PngImage* LoadLogoPng(int resourceId) {
    HRSRC resource = FindResourceW(nullptr, MAKEINTRESOURCEW(resourceId), L"Logo");
    if (!resource) return nullptr;
    const DWORD size = SizeofResource(nullptr, resource);
    if (size == 0) return nullptr;
    HGLOBAL loaded = LoadResource(nullptr, resource);
    if (!loaded) return nullptr;
    const void* bytes = LockResource(loaded);
    if (!bytes) return nullptr;
    MemoryReader reader = {static_cast<const uint8_t*>(bytes), size};
    return DecodePng(&reader, ReadMemory, &kPageAllocator);
}

namespace {

// A 32-bit DIB section with bottom-up rows (positive height), its pixels in *bits.
HBITMAP CreateBottomUpSection(LONG width, LONG height, void** bits) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    return CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, bits, nullptr, 0);
}

}  // namespace

HBITMAP CreateLogoBitmap(const PngImage* image) {
    if (image->channels != 3 && image->channels != 4) return nullptr;
    void* bits = nullptr;
    HBITMAP bitmap = CreateBottomUpSection(static_cast<LONG>(image->width), static_cast<LONG>(image->height), &bits);
    if (!bitmap) return nullptr;
    // Converted straight into the section's own memory.
    ConvertToDibPixels(image, static_cast<uint8_t*>(bits), BestPixelPath());
    return bitmap;
}

HBITMAP CreateScaledLogoBitmap(const BITMAP& logo, int width, int height) {
    // Only the logo's own kind of section: bottom-up, 32 bits, rows without padding.
    if (!logo.bmBits || logo.bmBitsPixel != 32 || logo.bmWidth <= 0 || logo.bmHeight <= 0 ||
        logo.bmWidthBytes != logo.bmWidth * 4 || width <= 0 || height <= 0) {
        return nullptr;
    }
    void* bits = nullptr;
    HBITMAP bitmap = CreateBottomUpSection(width, height, &bits);
    if (!bitmap) return nullptr;
    // Both bottom-up: the rows keep their order.
    if (!ScalePremultiplied(static_cast<const uint8_t*>(logo.bmBits), static_cast<uint32_t>(logo.bmWidth),
                            static_cast<uint32_t>(logo.bmHeight), static_cast<uint8_t*>(bits),
                            static_cast<uint32_t>(width), static_cast<uint32_t>(height))) {
        DeleteObject(bitmap);
        return nullptr;
    }
    return bitmap;
}
