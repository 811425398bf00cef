#pragma once

#include <windows.h>

// What an icon handed to the shell shows.

// The edge of the icon's colour image in pixels; 0 for no icon.
int IconEdge(HICON icon);
// True when `icon` shows, pixel for pixel, the image of the running executable's icon
// resource `resource` at the icon's own size (so which art, and drawn at that size).
bool IconShows(HICON icon, UINT resource);
