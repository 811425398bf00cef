#pragma once

#include <windows.h>

#include "image/png_decoder.h"

// Decodes the running executable's PNG resource of type "Logo" with the given id.
PngImage* LoadLogoPng(int resourceId);
// A 32-bit premultiplied bottom-up DIB section of the image (first PNG row on top), or null.
HBITMAP CreateLogoBitmap(const PngImage* image);
