#include "protect/lid_state.h"

#include "common/bounded_format.h"
#include "protect/driver_contract.h"
#include "protect/protection_state.h"
#include "protect/sleep_clock.h"

static_assert(LidState{} == LidState::Unknown, "a new run knows nothing of the lid");

namespace {

LidRecord& Lid() { return g_protection.run.lid; }

}  // namespace

LidState LidStateFromValue(ULONG_PTR value) {
    if (value == kLidClosed) return LidState::Closed;
    if (value == kLidOpen) return LidState::Open;
    return LidState::Unknown;
}

LidState CurrentLidState() { return Lid().state; }

void NoteLidClosed(ClosureStart start) {
    Lid().state = LidState::Closed;
    Lid().closedAt = ClockNow();
    Lid().closedBeforeStart = start == ClosureStart::AtStart;
}

void NoteLidState(LidState state) { Lid().state = state; }

unsigned SecondsSinceLidClosed() {
    ULONGLONG seconds = MsAwakeSince(Lid().closedAt) / 1000u;
    return seconds > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<unsigned>(seconds);
}

void FormatSecondsSinceLidClosed(wchar_t* text, int chars) {
    FormatBounded(text, chars, Lid().closedBeforeStart ? L"%u (counted from Kalnix's start: the lid was closed already)" : L"%u",
                  SecondsSinceLidClosed());
}
