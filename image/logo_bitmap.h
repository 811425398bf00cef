#pragma once

#include <windows.h>

#include "image/png_decoder.h"

// Decodes the running executable's PNG resource of type "Logo" with the given id.
PngImage* LoadLogoPng(int resourceId);
// A 32-bit premultiplied bottom-up DIB section of the image (first PNG row on top), or null.
HBITMAP CreateLogoBitmap(const PngImage* image);
// A new DIB section of width x height pixels holding the logo's DIB section (described by
// `logo`, as GetObjectW gives it) scaled with a good filter (image/logo_scale.h), or null.
HBITMAP CreateScaledLogoBitmap(const BITMAP& logo, int width, int height);
