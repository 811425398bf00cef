#include "common/com_library.h"

#include "common/system_library.h"

namespace {

template <class Function>
bool Resolve(HMODULE library, Function* function, const char* name) {
    *function = reinterpret_cast<Function>(reinterpret_cast<void*>(GetProcAddress(library, name)));
    return *function != nullptr;
}

ComFunctions ResolveCom() {
    ComFunctions com = {};
    HMODULE ole = LoadSystemLibrary(L"ole32.dll");
    HMODULE automation = LoadSystemLibrary(L"oleaut32.dll");
    bool complete = ole && automation && Resolve(ole, &com.initialize, "CoInitializeEx") &&
                    Resolve(ole, &com.uninitialize, "CoUninitialize") &&
                    Resolve(ole, &com.createInstance, "CoCreateInstance") &&
                    Resolve(automation, &com.allocateString, "SysAllocString") &&
                    Resolve(automation, &com.freeString, "SysFreeString") &&
                    Resolve(ole, &com.setProxyBlanket, "CoSetProxyBlanket") &&
                    Resolve(automation, &com.clearVariant, "VariantClear");
    if (!complete) com = {};
    return com;
}

}  // namespace

const ComFunctions& Com() {
    static const ComFunctions com = ResolveCom();
    return com;
}
