#include "protect/lid_state.h"

#include "common/bounded_format.h"
#include "protect/driver_contract.h"
#include "protect/sleep_clock.h"

namespace {

LidState g_lidState = LidState::Unknown;
ClockStamp g_closedAt = {};
bool g_closedBeforeStart = false;

}  // namespace

LidState LidStateFromValue(ULONG_PTR value) {
    if (value == kLidClosed) return LidState::Closed;
    if (value == kLidOpen) return LidState::Open;
    return LidState::Unknown;
}

LidState CurrentLidState() { return g_lidState; }

void NoteLidClosed(ClosureStart start) {
    g_lidState = LidState::Closed;
    g_closedAt = ClockNow();
    g_closedBeforeStart = start == ClosureStart::AtStart;
}

void NoteLidState(LidState state) { g_lidState = state; }

unsigned SecondsSinceLidClosed() {
    ULONGLONG seconds = MsAwakeSince(g_closedAt) / 1000u;
    return seconds > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned>(seconds);
}

void FormatSecondsSinceLidClosed(wchar_t* text, int chars) {
    FormatBounded(text, chars, g_closedBeforeStart ? L"%u (counted from Kalnix's start: the lid was closed already)" : L"%u",
                  SecondsSinceLidClosed());
}
