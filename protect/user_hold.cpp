#include "protect/user_hold.h"

#include "common/diagnostic_log.h"
#include "protect/protection_host.h"
#include "protect/sleep_clock.h"

namespace {

enum class Hold { None, Deciding, Held, Rechecking };
Hold g_hold = Hold::None;
TimerDue g_settleDue = {};
int g_unreadableReads = 0;

void ArmSettleTimer(HWND window) {
    SetTimer(window, kHoldSettleTimer, kHoldSettleMs, nullptr);
    g_settleDue = ArmedNow(kHoldSettleMs);
}

}  // namespace

bool HoldActive() { return g_hold != Hold::None; }

void BeginHoldDecision(HWND window) {
    g_hold = Hold::Deciding;
    g_unreadableReads = 0;
    ArmSettleTimer(window);
}

void RecheckHold(HWND window) {
    if (g_hold == Hold::None) return;
    // Every change starts the wait again: a display away for the whole wait has left, and one
    // still coming after a resume is waited for.
    if (g_hold == Hold::Held) g_hold = Hold::Rechecking;
    ArmSettleTimer(window);
}

void EndHold(HWND window) {
    if (g_hold != Hold::None) KillTimer(window, kHoldSettleTimer);
    ForgetHold();
}

void ForgetHold() {
    g_hold = Hold::None;
    g_unreadableReads = 0;
}

bool HoldSettleDue(HWND window) {
    if (g_hold != Hold::Deciding && g_hold != Hold::Rechecking) {
        KillTimer(window, kHoldSettleTimer);
        return false;
    }
    UINT remainingMs = 0;
    // A sleep in between ends the hold at its suspend; a late tick is as good as a due one.
    if (CheckTimer(g_settleDue, &remainingMs) == TimerCheck::Early) {
        SetTimer(window, kHoldSettleTimer, remainingMs, nullptr);
        return false;
    }
    KillTimer(window, kHoldSettleTimer);
    return true;
}

HoldOutcome SettleHold(HWND window, Displays displays) {
    bool deciding = g_hold == Hold::Deciding;
    if (displays == Displays::LaptopOnly) {
        ForgetHold();
        return deciding ? HoldOutcome::NotHeld : HoldOutcome::LeftLaptop;
    }
    // Only a layout that no source can read counts as external, and only once it stayed so.
    if (displays == Displays::Unreadable && deciding && g_unreadableReads < kHoldUnreadableRereads) {
        ++g_unreadableReads;
        ArmSettleTimer(window);
        return HoldOutcome::Waiting;
    }
    if (deciding)
        LogMessage(L"Woken by someone with an external display in use: no alarm until the lid opens and closes again");
    g_hold = Hold::Held;
    return HoldOutcome::Held;
}
