#include "protect/closure_record.h"

#include <cwchar>

#include "common/bounded_format.h"
#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"
#include "common/settings_store.h"
#include "protect/lid_state.h"
#include "protect/protection_state.h"
#include "protect/sleep_clock.h"

static_assert(RestKind{} == RestKind::None, "a closure starts with no rest");

namespace {

constexpr int kDrainChars = 64;
// More time asleep than the clocks' steps: a sleep nobody reported (a standby Kalnix slept
// through without a suspend notice).
constexpr ULONGLONG kUnreportedSleepMs = 2000;
// The whole record with room for its two terminators. A longer value is no record of this
// program's and is started afresh.
constexpr int kRecordChars = kClosureRecordLines * kClosureLineChars + 2;

ClosureState& Closure() { return g_protection.run.closure; }

unsigned WholeSeconds(ULONGLONG ms) {
    ULONGLONG seconds = ms / 1000u;
    return seconds > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned>(seconds);
}

void StopRinging() {
    ClosureState& closure = Closure();
    if (!closure.ringing) return;
    closure.ringing = false;
    closure.rangMs += MsAwakeSince(closure.ringingSince);
}

// What the closure came to: Kalnix's own rest above all, then a heard alarm, then the sleep.
void FormatOutcome(const ClosureState& c, wchar_t* text, int chars) {
    unsigned rang = WholeSeconds(c.rangMs);
    if (c.rested && c.cause[0])
        FormatBounded(text, chars, L"Put to rest by Kalnix (%ls) after %u s: %ls", RestKindText(c.restKind),
                      c.restedAfter, c.cause);
    else if (c.rested)
        FormatBounded(text, chars, L"Put to rest by Kalnix (%ls) after %u s, no cause found", RestKindText(c.restKind),
                      c.restedAfter);
    else if (c.heard) FormatBounded(text, chars, L"The alarm rang for %u s and was heard", rang);
    else if (c.slept && c.rangMs > 0) FormatBounded(text, chars, L"Slept after %u s; the alarm rang for %u s first", c.sleptAfter, rang);
    else if (c.slept) FormatBounded(text, chars, L"Slept after %u s", c.sleptAfter);
    else if (c.rangMs > 0) FormatBounded(text, chars, L"The alarm rang for %u s", rang);
    else if (MsAsleepSince(c.closedAt) > kUnreportedSleepMs)
        FormatBounded(text, chars, L"Slept, awake %u s in all", SecondsSinceLidClosed());
    else FormatBounded(text, chars, L"Opened after %u s, still awake", SecondsSinceLidClosed());
}

void FormatDrain(const ClosureState& c, wchar_t* text, int chars) {
    text[0] = L'\0';
    if (!c.drained) return;
    ULONGLONG minutes = c.drainMs / 60000u;
    ULONGLONG hours = minutes / 60u;
    FormatBounded(text, chars, L"; the standby used %d%% in %u h %02u min", c.drainPercent,
                  hours > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned>(hours), static_cast<unsigned>(minutes % 60u));
}

// "; woken at 03:12 by the device X", or "; woken 3 times, the last at 03:12 by ...".
void FormatWakes(const ClosureState& c, wchar_t* text, int chars) {
    text[0] = L'\0';
    if (c.wakes == 0) return;
    wchar_t count[32] = L"";
    if (c.wakes > 1) FormatBounded(count, 32, L" %d times, the last", c.wakes);
    FormatBounded(text, chars, L"; woken%ls at %02u:%02u%ls%ls", count, static_cast<unsigned>(c.wakeHour),
                  static_cast<unsigned>(c.wakeMinute), c.wakeSource[0] ? L" by " : L"", c.wakeSource);
}

void OneLine(wchar_t* text) {
    for (wchar_t* c = text; *c; ++c)
        if (*c < L' ') *c = L' ';
}

void ReadLines(HKEY key, ClosureLines* record) {
    record->count = 0;
    // Zero beyond what the query may fill: every line read is terminated.
    wchar_t data[kRecordChars] = {};
    DWORD type = 0;
    DWORD size = (kRecordChars - 2) * sizeof(wchar_t);
    if (!key || RegQueryValueExW(key, kClosureRecordValue, nullptr, &type, reinterpret_cast<BYTE*>(data), &size) !=
                    ERROR_SUCCESS ||
        type != REG_MULTI_SZ)
        return;
    size_t chars = size / sizeof(wchar_t);
    for (size_t at = 0; at < chars && data[at] && record->count < kClosureRecordLines;) {
        size_t length = wcslen(data + at);
        FormatBounded(record->lines[record->count++], kClosureLineChars, L"%ls", data + at);
        at += length + 1;
    }
}

void Append(wchar_t* data, int* used, const wchar_t* line) {
    size_t length = wcslen(line);
    wmemcpy(data + *used, line, length + 1);
    *used += static_cast<int>(length + 1);
}

// The new line first, then the newest of the earlier ones.
void WriteFirst(const wchar_t* line) {
    ScopedKey key;
    OpenSettingsKey(key.put());
    if (!key.valid()) return;
    ClosureLines earlier;
    ReadLines(key.get(), &earlier);
    wchar_t data[kRecordChars];
    int used = 0;
    Append(data, &used, line);
    for (int i = 0; i < earlier.count && i < kClosureRecordLines - 1; ++i) Append(data, &used, earlier.lines[i]);
    data[used++] = L'\0';
    LONG status = RegSetValueExW(key.get(), kClosureRecordValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data),
                                 static_cast<DWORD>(used * sizeof(wchar_t)));
    if (status != ERROR_SUCCESS) LogFormatted(L"RSVE Failed: %d\n", static_cast<int>(status));
}

}  // namespace

void BeginClosureRecord() {
    ClosureState& closure = Closure();
    closure = {};
    closure.open = true;
    closure.closedAt = ClockNow();
    SYSTEMTIME now = {};
    GetLocalTime(&now);
    FormatBounded(closure.stamp, kClosureStampChars, L"%04u-%02u-%02u %02u:%02u", static_cast<unsigned>(now.wYear),
                  static_cast<unsigned>(now.wMonth), static_cast<unsigned>(now.wDay), static_cast<unsigned>(now.wHour),
                  static_cast<unsigned>(now.wMinute));
}

void NoteClosureSleep() {
    ClosureState& closure = Closure();
    if (!closure.open || closure.slept) return;
    closure.slept = true;
    closure.sleptAfter = SecondsSinceLidClosed();
}

void NoteAlarmRinging(bool ringing) {
    ClosureState& closure = Closure();
    if (!closure.open) return;
    if (!ringing) return StopRinging();
    if (closure.ringing) return;
    closure.ringing = true;
    closure.ringingSince = ClockNow();
}

void NoteAlarmHeard() {
    if (Closure().open) Closure().heard = true;
}

void NoteClosureRest(RestKind kind, const wchar_t* cause) {
    ClosureState& closure = Closure();
    if (!closure.open || closure.rested) return;
    closure.rested = true;
    closure.restKind = kind;
    closure.restedAfter = SecondsSinceLidClosed();
    FormatBounded(closure.cause, kClosureCauseChars, L"%ls", cause ? cause : L"");
    // One line per closure: a cause's own line breaks become spaces.
    OneLine(closure.cause);
}

void NoteClosureWake(WORD hour, WORD minute) {
    ClosureState& closure = Closure();
    if (!closure.open) return;
    ++closure.wakes;
    closure.wakeHour = hour;
    closure.wakeMinute = minute;
    closure.wakeSource[0] = L'\0';
}

void NameClosureWake(const wchar_t* source) {
    ClosureState& closure = Closure();
    if (!closure.open || closure.wakes == 0) return;
    FormatBounded(closure.wakeSource, kClosureWakeChars, L"%ls", source ? source : L"");
    OneLine(closure.wakeSource);
}

void NoteStandbyDrain(int percentUsed, ULONGLONG standbyMs) {
    ClosureState& closure = Closure();
    if (!closure.open) return;
    closure.drained = true;
    closure.drainPercent = percentUsed > 0 ? percentUsed : 0;
    closure.drainMs = standbyMs;
}

void EndClosureRecord() {
    ClosureState& closure = Closure();
    if (!closure.open) return;
    StopRinging();
    wchar_t outcome[kClosureLineChars];
    wchar_t wakes[kClosureLineChars];
    wchar_t drain[kDrainChars];
    FormatOutcome(closure, outcome, kClosureLineChars);
    FormatWakes(closure, wakes, kClosureLineChars);
    FormatDrain(closure, drain, kDrainChars);
    wchar_t line[kClosureLineChars];
    FormatBounded(line, kClosureLineChars, L"%ls  %ls%ls%ls", closure.stamp, outcome, wakes, drain);
    closure = {};
    WriteFirst(line);
}

void ReadClosureRecord(ClosureLines* record) {
    ScopedKey key(OpenSettingsKeyQuietly());
    ReadLines(key.get(), record);
}
