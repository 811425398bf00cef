#pragma once

#include <windows.h>

enum class Displays;  // protect/external_display.h

// What the protection needs of the program that hosts it: the tray program in the user's own
// session, or a service. Handed to StartProtection (protect/protection_run.h); protect/ never
// includes the host's code. StandaloneHost (protect/standalone_host.h) fills every member but
// the user's view with what the tray program does in its own session. Any function may be
// null: the protection then goes without it, as each says.
struct ProtectionHost {
    // Receives protect/'s messages (protect/protection_messages.h), which it hands to
    // HandleProtectionMessage, and owns its timers.
    HWND window;

    // Where the system's power notifications go: the window itself (DEVICE_NOTIFY_WINDOW_HANDLE),
    // or a service's status handle (DEVICE_NOTIFY_SERVICE_HANDLE), whose control handler hands
    // each event on to the window as WM_POWERBROADCAST, with the setting copied.
    HANDLE notificationRecipient;
    DWORD notificationFlags;
    // Windows 8 and later tell a window of suspend and resume only when it registers for them;
    // a service is told anyway.
    bool registerSuspendResume;
    // The host may change the power policy (an administrator's Kalnix, a service): the hourly
    // protection tick runs, and changes of the lid-close action and the power source are
    // answered. Without it the lid alarm still works and the run's end still puts back.
    bool changesPowerPolicy;

    // The lid's source, started once the run has begun (null: the lid's reports come to the
    // window as lid-state messages from elsewhere); and a request for the lid's state as it is
    // now, after a wake Kalnix caused: false where no source can answer.
    void (*startLidSource)();
    bool (*requestLidReport)();

    // What the user sees: a notification balloon; the protection's state is as it should be
    // (at every protection tick); a lasting second line under it (null removes it).
    void (*showBalloon)(const wchar_t* text);
    // The same for a note that names what woke the laptop, which an administrator may keep
    // from waking it again (null: shown as any balloon). Its action is the host's.
    void (*showWakeNotice)(const wchar_t* text);
    void (*stateChanged)();
    void (*showNote)(const wchar_t* note);

    // One tone of the lid alarm, `hz` for `ms`, returning once it has ended; and, at the alarm's
    // first tone, true when nobody could hear it (the rest then follows sooner).
    void (*soundTone)(DWORD hz, DWORD ms);
    bool (*alarmIsSilent)();

    // The watch for a person at the keyboard or mouse of the laptop: false when it cannot run,
    // and then any input the session sees counts. Input arrives as WM_INPUT to the window, or
    // through NoteReportedPersonInput from a host that hears it elsewhere.
    bool (*startInputWatch)(HWND window);
    void (*stopInputWatch)();

    // The laptop's displays now (null: unreadable, which counts as an external display).
    Displays (*readDisplays)();
    // True where the host speaks for the console, the session of the laptop's own screen and
    // keyboard (null: it does not, and the laptop is never rested).
    bool (*speaksForConsole)();
    // Turns the laptop's display off, the way into Modern Standby: false where no display can
    // be reached, and the next way to rest is tried.
    bool (*requestDisplayOff)(HWND window);
};
