#include "protect/wake_naming.h"

#include <cwchar>

#include "common/bounded_format.h"

namespace {

bool StartsWithNoCase(const wchar_t* text, const wchar_t* prefix) {
    return _wcsnicmp(text, prefix, wcslen(prefix)) == 0;
}

bool ContainsNoCase(const wchar_t* text, const wchar_t* word) {
    size_t length = wcslen(word);
    for (const wchar_t* p = text; *p; ++p)
        if (_wcsnicmp(p, word, length) == 0) return true;
    return false;
}

void Clear(WakeSource* out) { *out = {}; }

void Copy(wchar_t* to, int chars, const wchar_t* from) { FormatBounded(to, chars, L"%ls", from ? from : L""); }

// Words network adapters' names carry ("Intel(R) Ethernet Connection I219-LM", "Realtek PCIe
// GbE Family Controller", "Intel(R) Wi-Fi 6 AX201 160MHz", "Killer Wireless-n/a/ac 1535").
const wchar_t* const kNetworkWords[] = {L"ethernet", L"gbe ", L"gigabit", L"network", L"wi-fi", L"wifi",
                                        L"wireless", L"wlan", L"802.11"};

bool IsNetworkName(const wchar_t* name) {
    for (const wchar_t* word : kNetworkWords)
        if (ContainsNoCase(name, word)) return true;
    return false;
}

// ACPI identifiers of the laptop's own parts (PNP0C0C power button, PNP0C0D lid, PNP0C0E sleep
// button, FixedButton the fixed-feature power button, PNP03xx keyboards).
// The resume event gives only the device's name: Windows' own names for them, as English
// Windows gives them, stand in for the identifiers there.
struct FirmwarePart {
    const wchar_t* pathPrefix;
    const wchar_t* deviceName;
    WakeSourceKind kind;
    const wchar_t* name;
};
const FirmwarePart kFirmwareParts[] = {
    {L"ACPI\\PNP0C0D", L"ACPI Lid", WakeSourceKind::Lid, L"the lid"},
    {L"ACPI\\PNP0C0C", L"ACPI Power Button", WakeSourceKind::PowerButton, L"the power button"},
    {L"ACPI\\FIXEDBUTTON", L"ACPI Fixed Feature Button", WakeSourceKind::PowerButton, L"the power button"},
    {L"ACPI\\PNP0C0E", L"ACPI Sleep Button", WakeSourceKind::PowerButton, L"the sleep button"},
    {L"ACPI\\PNP03", nullptr, WakeSourceKind::Keyboard, L"the keyboard"},
};

// "'NT TASK\Microsoft\Windows\UpdateOrchestrator\Reboot'" in a context, whatever language the
// rest is in: the task's path after "NT TASK" up to the closing quote, into `task`.
bool TaskOfContext(const wchar_t* context, wchar_t* task, int chars) {
    const wchar_t* start = context ? wcsstr(context, L"NT TASK\\") : nullptr;
    if (!start) return false;
    start += 7;  // keeps the task's leading '\'
    const wchar_t* end = wcschr(start, L'\'');
    size_t length = end ? static_cast<size_t>(end - start) : wcslen(start);
    if (length <= 1) return false;
    FormatBounded(task, chars, L"%.*ls", static_cast<int>(length), start);
    return true;
}

bool IsWindowsUpdateTask(const wchar_t* task) {
    return StartsWithNoCase(task, L"\\Microsoft\\Windows\\UpdateOrchestrator\\") ||
           StartsWithNoCase(task, L"\\Microsoft\\Windows\\WindowsUpdate\\");
}

bool IsMaintenanceTask(const wchar_t* task) { return StartsWithNoCase(task, L"\\Microsoft\\Windows\\TaskScheduler\\"); }

const wchar_t* const kWindowsUpdateServices[] = {L"wuauserv", L"UsoSvc"};

// Who set a timer, from its owner alone: "[SERVICE] ...\svchost.exe (wuauserv)" names the
// service in its last parentheses, "[PROCESS] ...\app.exe" the program's file, "[DRIVER] X" the
// driver.
void SetterOfOwner(const wchar_t* owner, wchar_t* setter, int chars) {
    const wchar_t* tagEnd = owner[0] == L'[' ? wcschr(owner, L']') : nullptr;
    bool service = StartsWithNoCase(owner, L"[SERVICE]");
    bool driver = StartsWithNoCase(owner, L"[DRIVER]");
    const wchar_t* name = tagEnd ? tagEnd + 1 : owner;
    while (*name == L' ') ++name;
    size_t length = wcslen(name);
    const wchar_t* open = length && name[length - 1] == L')' ? wcsrchr(name, L'(') : nullptr;
    if (service && open) {
        int serviceLength = static_cast<int>(name + length - 1 - (open + 1));
        for (const wchar_t* update : kWindowsUpdateServices)
            if (static_cast<int>(wcslen(update)) == serviceLength && _wcsnicmp(open + 1, update, serviceLength) == 0)
                return Copy(setter, chars, L"Windows Update");
        FormatBounded(setter, chars, L"the service %.*ls", serviceLength, open + 1);
    } else if (driver) {
        FormatBounded(setter, chars, L"the driver %ls", name);
    } else {
        const wchar_t* file = wcsrchr(name, L'\\');
        Copy(setter, chars, file ? file + 1 : name);
    }
}

struct StandbyReason {
    DWORD reason;
    WakeSourceKind kind;
    const wchar_t* name;
};
// The reasons of POWER_MONITOR_REQUEST_REASON (ntpoapi.h) that name what a person could act on.
const StandbyReason kStandbyReasons[] = {
    {1, WakeSourceKind::PowerButton, L"the power button"},
    {4, WakeSourceKind::Input, L"an input device"},
    {14, WakeSourceKind::PowerButton, L"the sleep button"},
    {15, WakeSourceKind::Lid, L"the lid"},
    {31, WakeSourceKind::Keyboard, L"the keyboard"},
    {32, WakeSourceKind::Input, L"the mouse"},
    {33, WakeSourceKind::Input, L"the touchpad"},
    {34, WakeSourceKind::Input, L"the pen"},
    {36, WakeSourceKind::Input, L"an input device"},
    {54, WakeSourceKind::Input, L"a touch of the screen"},
};

}  // namespace

void NameDevice(const wchar_t* instancePath, const wchar_t* deviceName, WakeSource* out) {
    Clear(out);
    const wchar_t* path = instancePath ? instancePath : L"";
    const wchar_t* shown = deviceName && *deviceName ? deviceName : path;
    Copy(out->instancePath, kWakeDetailChars, path);
    Copy(out->deviceName, kWakeDetailChars, deviceName);
    out->builtIn = StartsWithNoCase(path, L"ACPI\\");
    for (const FirmwarePart& part : kFirmwareParts) {
        bool byName = !*path && part.deviceName && _wcsicmp(shown, part.deviceName) == 0;
        if (!byName && !StartsWithNoCase(path, part.pathPrefix)) continue;
        out->kind = part.kind;
        out->builtIn = true;
        return Copy(out->name, kWakeNameChars, part.name);
    }
    if (ContainsNoCase(shown, L"keyboard")) {
        out->kind = WakeSourceKind::Keyboard;
        FormatBounded(out->name, kWakeNameChars, L"the keyboard (%ls)", shown);
    } else if (IsNetworkName(shown)) {
        out->kind = WakeSourceKind::NetworkAdapter;
        FormatBounded(out->name, kWakeNameChars, L"the network adapter %ls", shown);
    } else if (*shown) {
        out->kind = WakeSourceKind::Device;
        FormatBounded(out->name, kWakeNameChars, L"the device %ls", shown);
    } else {
        NameUnknown(nullptr, out);
    }
}

void NameWakeTimer(const wchar_t* owner, const wchar_t* context, WakeSource* out) {
    Clear(out);
    out->kind = WakeSourceKind::WakeTimer;
    Copy(out->timerOwner, kWakeDetailChars, owner);
    Copy(out->timerContext, kWakeDetailChars, context);
    wchar_t task[kWakeDetailChars], setter[kWakeDetailChars];
    if (TaskOfContext(context, task, kWakeDetailChars)) {
        if (IsWindowsUpdateTask(task)) Copy(setter, kWakeDetailChars, L"Windows Update");
        else if (IsMaintenanceTask(task)) Copy(setter, kWakeDetailChars, L"Windows automatic maintenance");
        else FormatBounded(setter, kWakeDetailChars, L"the scheduled task %ls", task);
    } else if (owner && *owner) {
        SetterOfOwner(owner, setter, kWakeDetailChars);
    } else {
        Copy(setter, kWakeDetailChars, L"an unknown program");
    }
    FormatBounded(out->name, kWakeNameChars, L"a wake timer set by %ls", setter);
}

bool NameStandbyExitReason(DWORD reason, WakeSource* out) {
    Clear(out);
    for (const StandbyReason& known : kStandbyReasons) {
        if (known.reason != reason) continue;
        out->kind = known.kind;
        // The laptop's own buttons and lid; an input device may be plugged in.
        out->builtIn = known.kind == WakeSourceKind::PowerButton || known.kind == WakeSourceKind::Lid;
        Copy(out->name, kWakeNameChars, known.name);
        return true;
    }
    FormatBounded(out->name, kWakeNameChars, L"unknown (Modern Standby reason %lu)", static_cast<unsigned long>(reason));
    return false;
}

void NameUnknown(const wchar_t* text, WakeSource* out) {
    Clear(out);
    Copy(out->name, kWakeNameChars, text && *text ? text : L"unknown");
}
