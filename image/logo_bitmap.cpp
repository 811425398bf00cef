#include "image/logo_bitmap.h"

// Placeholder until the logo conversion lands.
PngImage* LoadLogoPng() { return nullptr; }
HBITMAP CreateLogoBitmap(const PngImage*) { return nullptr; }
