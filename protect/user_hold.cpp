#include "protect/user_hold.h"

#include "common/diagnostic_log.h"
#include "protect/protection_messages.h"
#include "protect/protection_state.h"
#include "protect/sleep_clock.h"

namespace {

HoldState& Hold() { return g_protection.run.hold; }

void ForgetHold() {
    Hold().stage = HoldStage::None;
    Hold().unreadableReads = 0;
}

void ArmSettleTimer(HWND window) {
    SetTimer(window, kHoldSettleTimer, kHoldSettleMs, nullptr);
    Hold().settleDue = ArmedNow(kHoldSettleMs);
}

}  // namespace

bool HoldActive() { return Hold().stage != HoldStage::None; }

void BeginHoldDecision(HWND window) {
    Hold().stage = HoldStage::Deciding;
    Hold().unreadableReads = 0;
    ArmSettleTimer(window);
}

void RecheckHold(HWND window) {
    if (Hold().stage == HoldStage::None) return;
    // Every change starts the wait again: a display away for the whole wait has left, and one
    // still coming after a resume is waited for.
    if (Hold().stage == HoldStage::Held) Hold().stage = HoldStage::Rechecking;
    ArmSettleTimer(window);
}

void EndHold(HWND window) {
    if (Hold().stage != HoldStage::None) KillTimer(window, kHoldSettleTimer);
    ForgetHold();
}

bool HoldSettleDue(HWND window) {
    if (Hold().stage != HoldStage::Deciding && Hold().stage != HoldStage::Rechecking) {
        KillTimer(window, kHoldSettleTimer);
        return false;
    }
    UINT remainingMs = 0;
    // A sleep in between ends the hold at its suspend; a late tick is as good as a due one.
    if (CheckTimer(Hold().settleDue, &remainingMs) == TimerCheck::Early) {
        SetTimer(window, kHoldSettleTimer, remainingMs, nullptr);
        return false;
    }
    KillTimer(window, kHoldSettleTimer);
    return true;
}

HoldOutcome SettleHold(HWND window, Displays displays) {
    bool deciding = Hold().stage == HoldStage::Deciding;
    if (displays == Displays::LaptopOnly) {
        ForgetHold();
        return deciding ? HoldOutcome::NotHeld : HoldOutcome::LeftLaptop;
    }
    // Only a layout that no source can read counts as external, and only once it stayed so.
    if (displays == Displays::Unreadable && deciding && Hold().unreadableReads < kHoldUnreadableRereads) {
        ++Hold().unreadableReads;
        ArmSettleTimer(window);
        return HoldOutcome::Waiting;
    }
    if (deciding)
        LogMessage(L"Woken by someone with an external display in use: no alarm until the lid opens and closes again");
    Hold().stage = HoldStage::Held;
    return HoldOutcome::Held;
}
