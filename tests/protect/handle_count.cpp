#include "handle_count.h"

#include <vector>

namespace {

constexpr ULONG kSystemHandleInformation = 16;
constexpr LONG kStatusInfoLengthMismatch = static_cast<LONG>(0xC0000004);

struct SystemHandleEntry {
    ULONG ownerPid;
    BYTE objectType;
    BYTE handleFlags;
    USHORT handleValue;
    PVOID objectPointer;
    ULONG accessMask;
};

struct SystemHandleList {
    ULONG count;
    SystemHandleEntry handles[1];
};

using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

}  // namespace

long CountProcessHandles(DWORD pid) {
    auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll"), "NtQuerySystemInformation")));
    if (!query) return -1;
    std::vector<BYTE> buffer(1 << 16);
    for (int attempt = 0; attempt < 16; ++attempt) {
        ULONG needed = 0;
        LONG status = query(kSystemHandleInformation, buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
        if (status == kStatusInfoLengthMismatch) {
            buffer.resize(needed > buffer.size() ? needed + 4096 : buffer.size() * 2);
            continue;
        }
        if (status < 0) return -1;
        const auto* list = reinterpret_cast<const SystemHandleList*>(buffer.data());
        long count = 0;
        for (ULONG i = 0; i < list->count; ++i) {
            if (list->handles[i].ownerPid == pid) ++count;
        }
        return count;
    }
    return -1;
}
