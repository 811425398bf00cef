#pragma once

#include <windows.h>

#include <vector>

#include "support/platform_scope.h"

// Stands in for the display queries of the seam for the life of a scope (Wine's one display is
// external, and Wine publishes no monitor records): the console layout's active paths are the
// ones set, by output technology, none at first; the monitors' connection records follow
// them: an active record for each display set, and the laptop's panel, inactive, where it is
// not among them. One layout at a time.
class DisplayLayout {
public:
    DisplayLayout();
    ~DisplayLayout();
    DisplayLayout(const DisplayLayout&) = delete;
    DisplayLayout& operator=(const DisplayLayout&) = delete;
    void Set(std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY> displays);
    // The monitors' records alone, where the two sources see apart (a remote session's layout
    // is its client's).
    void SetMonitors(std::vector<MonitorConnection> records);
    // The size query answers `error` instead of ERROR_SUCCESS (ERROR_ACCESS_DENIED: the
    // session is locked); the monitors' query fails with `result`.
    void AnswerSizeQueryWith(LONG error);
    void AnswerMonitorQueryWith(HRESULT result);
private:
    PlatformScope platform_;
};

constexpr auto kPanel = DISPLAYCONFIG_OUTPUT_TECHNOLOGY_INTERNAL;
constexpr auto kMonitor = DISPLAYCONFIG_OUTPUT_TECHNOLOGY_HDMI;
