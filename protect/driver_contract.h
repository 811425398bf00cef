#pragma once

// What Kalnix requires of the lid-sensor driver, which is not part of Kalnix itself.

constexpr const wchar_t* kLidDevicePath = L"\\\\.\\KALNIX";
constexpr const wchar_t* kLidStateChangedEventName = L"KalnixLidStateChangedEvent";  // auto-reset
constexpr const wchar_t* kLidStateEventName = L"KalnixLidStateEvent";  // signalled = lid closed
// The bare names resolve in the session's own namespace. A driver that creates its events in
// the global namespace is found from every session under these.
constexpr const wchar_t* kGlobalLidStateChangedEventName = L"Global\\KalnixLidStateChangedEvent";
constexpr const wchar_t* kGlobalLidStateEventName = L"Global\\KalnixLidStateEvent";

// Bare control codes, no buffers.
constexpr unsigned long kRequestProtectionApplied = 1;   // after forcing the lid-close flags
constexpr unsigned long kRequestProtectionReleased = 2;  // after restoring the saved flags
constexpr unsigned long kRequestLidChangeSeen = 3;       // at every wake-up on the change event

// Lid state as carried in the lid-state message.
constexpr unsigned long kLidClosed = 0;
constexpr unsigned long kLidOpen = 1;

constexpr const wchar_t* kDriverServiceName = L"Kalnix";
