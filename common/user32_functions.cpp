#include "common/user32_functions.h"

#include "common/loaded_function.h"

namespace {

// user32 is always loaded; a function older systems lack is simply not found there.
template <class Fn>
void Resolve(Fn* function, const char* name) {
    *function = LoadedFunction<Fn>(L"user32", name);
}

User32Functions ResolveUser32() {
    User32Functions table = {};
    Resolve(&table.registerPowerSettingNotification, "RegisterPowerSettingNotification");
    Resolve(&table.unregisterPowerSettingNotification, "UnregisterPowerSettingNotification");
    Resolve(&table.registerSuspendResumeNotification, "RegisterSuspendResumeNotification");
    Resolve(&table.unregisterSuspendResumeNotification, "UnregisterSuspendResumeNotification");
    Resolve(&table.getDisplayConfigBufferSizes, "GetDisplayConfigBufferSizes");
    Resolve(&table.queryDisplayConfig, "QueryDisplayConfig");
    Resolve(&table.changeWindowMessageFilter, "ChangeWindowMessageFilter");
    return table;
}

}  // namespace

const User32Functions& User32() {
    static const User32Functions table = ResolveUser32();
    return table;
}
