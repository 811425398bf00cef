#include "image/logo_bitmap.h"

#include "image/logo_pixels.h"
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

HBITMAP CreateLogoBitmap(const PngImage* image) {
    if (image->channels != 3 && image->channels != 4) return nullptr;
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
    info.bmiHeader.biWidth = static_cast<LONG>(image->width);
    info.bmiHeader.biHeight = static_cast<LONG>(image->height);  // positive: bottom-up rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (!bitmap) return nullptr;
    // Converted straight into the section's own memory.
    ConvertToDibPixels(image, static_cast<uint8_t*>(bits), BestPixelPath());
    return bitmap;
}
