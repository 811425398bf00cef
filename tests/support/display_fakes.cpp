#include "support/display_fakes.h"

namespace {

std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY> g_displays;
LONG g_sizeAnswer = ERROR_SUCCESS;

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

}  // namespace

DisplayLayout::DisplayLayout() {
    g_displays.clear();
    g_sizeAnswer = ERROR_SUCCESS;
    g_platform.getDisplayConfigBufferSizes = FakeBufferSizes;
    g_platform.queryDisplayConfig = FakeQueryDisplayConfig;
}

DisplayLayout::~DisplayLayout() {
    g_displays.clear();
    g_sizeAnswer = ERROR_SUCCESS;
}

void DisplayLayout::Set(std::vector<DISPLAYCONFIG_VIDEO_OUTPUT_TECHNOLOGY> displays) { g_displays = std::move(displays); }

void DisplayLayout::AnswerSizeQueryWith(LONG error) { g_sizeAnswer = error; }
