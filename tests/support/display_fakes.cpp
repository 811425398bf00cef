#include "support/display_fakes.h"

namespace {

std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY> g_displays;
std::vector<MonitorConnection> g_monitors;
LONG g_sizeAnswer = ERROR_SUCCESS;
HRESULT g_monitorAnswer = S_OK;

LONG WINAPI FakeBufferSizes(UINT32 flags, UINT32* paths, UINT32* modes) {
    if (flags != QDC_ONLY_ACTIVE_PATHS) return ERROR_INVALID_PARAMETER;
    *paths = static_cast<UINT32>(g_displays.size());
    *modes = 2 * *paths;
    return g_sizeAnswer;
}

LONG WINAPI FakeQueryDisplayConfig(UINT32 flags, UINT32* pathCount, DISPLAYCONFIG_PATH_INFO* paths, UINT32* modeCount,
                                   DISPLAYCONFIG_MODE_INFO*, DISPLAYCONFIG_TOPOLOGY_ID* topology) {
    if (flags != QDC_ONLY_ACTIVE_PATHS || topology) return ERROR_INVALID_PARAMETER;
    if (*pathCount < g_displays.size()) return ERROR_INSUFFICIENT_BUFFER;
    for (size_t i = 0; i < g_displays.size(); ++i) {
        paths[i] = {};
        paths[i].flags = DISPLAYCONFIG_PATH_ACTIVE;
        paths[i].targetInfo.outputTechnology = g_displays[i];
    }
    *pathCount = static_cast<UINT32>(g_displays.size());
    *modeCount = 2 * *pathCount;
    return ERROR_SUCCESS;
}

HRESULT WINAPI FakeMonitorConnections(MonitorConnection* records, UINT capacity, UINT* count) {
    *count = 0;
    if (FAILED(g_monitorAnswer)) return g_monitorAnswer;
    if (g_monitors.size() > capacity) return HRESULT_FROM_WIN32(ERROR_MORE_DATA);
    for (const MonitorConnection& record : g_monitors) records[(*count)++] = record;
    return S_OK;
}

}  // namespace

DisplayLayout::DisplayLayout() {
    Set({});
    g_sizeAnswer = ERROR_SUCCESS;
    g_monitorAnswer = S_OK;
    g_displaySeam.getDisplayConfigBufferSizes = FakeBufferSizes;
    g_displaySeam.queryDisplayConfig = FakeQueryDisplayConfig;
    g_displaySeam.readMonitorConnections = FakeMonitorConnections;
}

DisplayLayout::~DisplayLayout() {
    g_displays.clear();
    g_monitors.clear();
    g_sizeAnswer = ERROR_SUCCESS;
    g_monitorAnswer = S_OK;
}

void DisplayLayout::Set(std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY> displays) {
    g_displays = std::move(displays);
    g_monitors.clear();
    bool panel = false;
    for (DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY display : g_displays) {
        g_monitors.push_back({static_cast<DWORD>(display), TRUE});
        panel = panel || display == kPanel;
    }
    if (!panel) g_monitors.push_back({static_cast<DWORD>(kPanel), FALSE});
}

void DisplayLayout::SetMonitors(std::vector<MonitorConnection> records) { g_monitors = std::move(records); }

void DisplayLayout::AnswerSizeQueryWith(LONG error) { g_sizeAnswer = error; }

void DisplayLayout::AnswerMonitorQueryWith(HRESULT result) { g_monitorAnswer = result; }
