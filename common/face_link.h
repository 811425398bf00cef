#pragma once

#include <windows.h>

// What passes between the protection service and Kalnix in a session (its face) through the
// service's pipe: small messages of fixed size, one kind each. Whatever arrives is checked
// here before anyone reads a field: its size must be exactly its kind's, its version this one's,
// every number within its range and every text terminated inside its array. Nothing in a
// message names a setting, a path or a power value, and none starts anything.

constexpr UINT16 kLinkVersion = 2;
// Larger than any message: a read that needs more is a bad message.
constexpr DWORD kLinkMaxMessageBytes = 1024;
constexpr int kLinkTextChars = 256;
constexpr UINT32 kLinkLongestToneMs = 1000;

enum class LinkKind : UINT16 {
    // From a face.
    Hello = 1,           // a face has connected
    PersonInput = 2,     // the console's presence watch saw a person
    Displays = 3,        // the console's display layout now
    DisplayOffDone = 4,  // the display-off request was made
    // From the service.
    Welcome = 100,       // the face is accepted, with the state now
    Refused = 101,       // the face is not accepted, and why
    State = 102,         // the protection's state changed
    Tone = 103,          // the console's face sounds one tone of the alarm
    WatchInput = 104,    // the console's face starts or stops watching for a person
    Balloon = 105,       // a notification to show
    TurnDisplayOff = 106,  // the console's face asks its display to go off (Modern Standby's rest)
};

struct LinkHeader {
    UINT32 size;  // of the whole message
    UINT16 kind;
    UINT16 version;
};

// How a person showed: a keyboard or mouse (a device), or input a program injected for them
// (on-screen keyboard, speech, a remote-control tool at the console).
enum class LinkInputSource : UINT32 { Device = 1, Injected = 2 };
// The console's displays, as the face's own reading shows them.
enum class LinkDisplays : UINT32 { LaptopOnly = 0, External = 1, Unreadable = 2 };
enum class LinkRefusal : UINT32 { FaceInSession = 1, Version = 2 };
// A second line for the icon's tooltip.
enum class LinkNote : UINT32 { None = 0, NoLid = 1, NotRunning = 2 };

// The protection as a face shows it.
struct LinkState {
    UINT32 mode;        // Action: 1 automatic protection, 2 lid alarm, else neither
    UINT32 protecting;  // 1 while the service protects the laptop
    UINT32 note;        // LinkNote
};

struct LinkMessage {
    LinkHeader header;
    union {
        UINT32 flag;  // PersonInput (LinkInputSource), Displays (LinkDisplays), DisplayOffDone, WatchInput: 0/1
        struct {
            UINT32 hz;  // 37 to 32767, as Beep takes it
            UINT32 ms;  // at most kLinkLongestToneMs
        } tone;
        struct {
            UINT32 console;  // 1 when this face is the console session's
            LinkState state;
        } welcome;
        UINT32 refusal;  // LinkRefusal
        LinkState state;
        struct {
            UINT32 respectQuietTime;  // 1: a notification nobody asked for
            UINT32 offersWakeAction;  // 1: it names what woke the laptop, which an administrator may stop
            wchar_t text[kLinkTextChars];
        } balloon;
    };
};

// The message's size on the pipe for its kind; 0 for a kind that does not exist.
UINT32 LinkMessageSize(LinkKind kind);

// A message of `kind` with its header filled and its body zero.
LinkMessage MakeLinkMessage(LinkKind kind);
LinkMessage MakeFlagMessage(LinkKind kind, UINT32 flag);
LinkMessage MakeBalloonMessage(const wchar_t* text, bool respectQuietTime, bool offersWakeAction = false);
LinkMessage MakeToneMessage(DWORD hz, DWORD ms);

// Who may send a kind: a face, or the service.
enum class LinkSender { Face, Service };

// Checks `bytes` as a message from `sender` and copies it into *message. On refusal, *why says
// what was wrong, for a log line.
bool ReadLinkMessage(const BYTE* bytes, DWORD size, LinkSender sender, LinkMessage* message, const wchar_t** why);
