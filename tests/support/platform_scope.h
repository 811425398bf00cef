#pragma once

#include "common/platform.h"

// Saves the whole seam of common/platform.h and puts it back when the scope ends, whatever a
// test swapped in between and however it left (a failed ASSERT returns early). Scopes nest.
class PlatformScope {
public:
    PlatformScope() : saved_(g_platform) {}
    ~PlatformScope() { g_platform = saved_; }
    PlatformScope(const PlatformScope&) = delete;
    PlatformScope& operator=(const PlatformScope&) = delete;

private:
    Platform saved_;
};
