#include "support/icon_pixels.h"

#include <vector>

namespace {

// The colour image's pixels, 32-bit top-down; empty when there is none.
std::vector<DWORD> ColourPixels(HICON icon, int* edge) {
    ICONINFO info = {};
    *edge = 0;
    if (!icon || !GetIconInfo(icon, &info)) return {};
    std::vector<DWORD> pixels;
    BITMAP bitmap = {};
    if (info.hbmColor && GetObjectW(info.hbmColor, sizeof(bitmap), &bitmap)) {
        BITMAPINFO format = {};
        format.bmiHeader.biSize = sizeof(BITMAPINFOHEADER);
        format.bmiHeader.biWidth = bitmap.bmWidth;
        format.bmiHeader.biHeight = -bitmap.bmHeight;
        format.bmiHeader.biPlanes = 1;
        format.bmiHeader.biBitCount = 32;
        pixels.resize(static_cast<size_t>(bitmap.bmWidth) * bitmap.bmHeight);
        HDC screen = GetDC(nullptr);
        if (!GetDIBits(screen, info.hbmColor, 0, bitmap.bmHeight, pixels.data(), &format, DIB_RGB_COLORS)) pixels.clear();
        ReleaseDC(nullptr, screen);
        *edge = bitmap.bmWidth;
    }
    if (info.hbmColor) DeleteObject(info.hbmColor);
    if (info.hbmMask) DeleteObject(info.hbmMask);
    return pixels;
}

}  // namespace

int IconEdge(HICON icon) {
    int edge = 0;
    ColourPixels(icon, &edge);
    return edge;
}

bool IconShows(HICON icon, UINT resource) {
    int edge = 0;
    std::vector<DWORD> shown = ColourPixels(icon, &edge);
    if (shown.empty()) return false;
    HICON reference = static_cast<HICON>(
        LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource), IMAGE_ICON, edge, edge, LR_DEFAULTCOLOR));
    int referenceEdge = 0;
    std::vector<DWORD> expected = ColourPixels(reference, &referenceEdge);
    if (reference) DestroyIcon(reference);
    return referenceEdge == edge && shown == expected;
}
