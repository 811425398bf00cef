#pragma once

#include <windows.h>

#include <vector>

#include "support/platform_scope.h"

// Stands in for the display configuration queries of the seam for the life of a scope (Wine's
// one display is external): the active paths are the ones set, by output technology, none at
// first. One layout at a time.
class DisplayLayout {
public:
    DisplayLayout();
    ~DisplayLayout();
    DisplayLayout(const DisplayLayout&) = delete;
    DisplayLayout& operator=(const DisplayLayout&) = delete;
    void Set(std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY> displays);
    // The size query answers `error` instead of ERROR_SUCCESS.
    void AnswerSizeQueryWith(LONG error);
private:
    PlatformScope platform_;
};

constexpr auto kPanel = DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INTERNAL;
constexpr auto kMonitor = DISPLAYCONFIG_OUTPUT_TECHNOLOGY_HDMI;
