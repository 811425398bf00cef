// Stands in for the power request tool in one test: writes to its output whether it
// inherited the handle its command line names (in hexadecimal), an inheritable event the
// parent holds signalled.
#include <windows.h>

#include <cstring>
#include <cwchar>

int wmain(int argc, wchar_t** argv) {
    HANDLE handle = argc > 1 ? reinterpret_cast<HANDLE>(static_cast<ULONG_PTR>(wcstoull(argv[1], nullptr, 16)))
                             : nullptr;
    // A handle of the probe's own under the same number is neither inheritable nor signalled.
    DWORD flags = 0;
    bool inherited = GetHandleInformation(handle, &flags) && (flags & HANDLE_FLAG_INHERIT) &&
                     WaitForSingleObject(handle, 0) == WAIT_OBJECT_0;
    const char* text = inherited ? "inherited" : "not inherited";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), text, static_cast<DWORD>(strlen(text)), &written, nullptr);
    return 0;
}
