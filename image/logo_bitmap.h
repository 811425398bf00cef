#pragma once

#include <windows.h>

#include "image/png_decoder.h"

// Decodes the PNG resource of type "Logo", id 110, of the running executable.
PngImage* LoadLogoPng();
// A 32-bit premultiplied bottom-up DIB section of the image (first PNG row on top), or null.
HBITMAP CreateLogoBitmap(const PngImage* image);
