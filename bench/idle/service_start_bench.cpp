// The protection service's start as the setup program or Windows makes it, timed to protection
// applied: the lid-close flags of the stand-in power library's policy (the prefix's powrprof.dll)
// read forced. Each round starts from the user's flags (1 on mains power, 3 on battery) and ends
// with the orderly stop, which puts them back. Automatic protection must be chosen (Action 1),
// with those flags saved (PowerSettings1 1, PowerSettings2 3).
//   service_start_bench ROUNDS      prints the milliseconds of each round, one a line
#include <windows.h>
#include <powrprof.h>

#include <cstdio>
#include <cwchar>

namespace {

constexpr const wchar_t* kStandinKey = L"Software\\KalnixTest\\PowerProfile";
constexpr DWORD kUserAc = 1, kUserDc = 3;
constexpr DWORD kWaitMs = 30000;

DWORD Forced(DWORD flags) { return (flags & 0xFFFFFFFC) | 0x80000004; }

bool WritePolicy(DWORD ac, DWORD dc) {
    GLOBAL_POWER_POLICY policy = {};
    policy.user.LidCloseAc.Flags = ac;
    policy.user.LidCloseDc.Flags = dc;
    return RegSetKeyValueW(HKEY_LOCAL_MACHINE, kStandinKey, L"GlobalPolicy", REG_BINARY, &policy,
                           sizeof(policy)) == ERROR_SUCCESS;
}

bool PolicyForced() {
    GLOBAL_POWER_POLICY policy = {};
    DWORD size = sizeof(policy);
    return RegGetValueW(HKEY_LOCAL_MACHINE, kStandinKey, L"GlobalPolicy", RRF_RT_REG_BINARY, nullptr, &policy,
                        &size) == ERROR_SUCCESS &&
           policy.user.LidCloseAc.Flags == Forced(kUserAc) && policy.user.LidCloseDc.Flags == Forced(kUserDc);
}

double NowMs() {
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return now.QuadPart * 1000.0 / frequency.QuadPart;
}

bool WaitForState(SC_HANDLE service, DWORD state) {
    double start = NowMs();
    SERVICE_STATUS status = {};
    while (QueryServiceStatus(service, &status) && status.dwCurrentState != state) {
        if (NowMs() - start > kWaitMs) return false;
        Sleep(10);
    }
    return status.dwCurrentState == state;
}

// One round: -1 when the protection was not applied in time.
double Round(SC_HANDLE service) {
    if (!WritePolicy(kUserAc, kUserDc)) return -1;
    double start = NowMs();
    if (!StartServiceW(service, 0, nullptr)) return -1;
    double applied = -1;
    while (NowMs() - start < kWaitMs) {
        if (PolicyForced()) {
            applied = NowMs() - start;
            break;
        }
        Sleep(1);
    }
    SERVICE_STATUS status = {};
    WaitForState(service, SERVICE_RUNNING);
    ControlService(service, SERVICE_CONTROL_STOP, &status);
    return WaitForState(service, SERVICE_STOPPED) ? applied : -1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    int rounds = argc > 1 ? _wtoi(argv[1]) : 0;
    if (rounds <= 0) {
        std::fputws(L"usage: service_start_bench ROUNDS\n", stderr);
        return 2;
    }
    SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
    SC_HANDLE service = manager ? OpenServiceW(manager, L"KalnixProtection",
                                               SERVICE_START | SERVICE_STOP | SERVICE_QUERY_STATUS)
                                : nullptr;
    int result = service ? 0 : 1;
    for (int i = 0; service && i < rounds; ++i) {
        double ms = Round(service);
        if (ms < 0) result = 1;
        std::wprintf(L"%.1f\n", ms);
    }
    if (service) CloseServiceHandle(service);
    if (manager) CloseServiceHandle(manager);
    return result;
}
