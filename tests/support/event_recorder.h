#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "support/platform_scope.h"

// Wine's event log keeps nothing a test could read back: for the scope, every event Kalnix
// reports is recorded instead, whether it reaches the seam's ReportEventW (the tray window's
// writer) or the writer itself (layers tested without the window).
struct RecordedEvent {
    WORD type;
    DWORD id;  // the whole event ID as reported, severity bits included
    std::vector<std::wstring> inserts;
};

class EventRecorder {
public:
    EventRecorder();
    ~EventRecorder();
    EventRecorder(const EventRecorder&) = delete;
    EventRecorder& operator=(const EventRecorder&) = delete;
    const std::vector<RecordedEvent>& Events() const;
    // The recorded events whose ID shows as this number in the log, and that the Event
    // Viewer can find: reported with the message table's whole ID and its type.
    std::vector<RecordedEvent> WithId(DWORD number) const;
    void Clear();
    // Sources registered and deregistered through the seam.
    int Registrations() const;
    int Deregistrations() const;
private:
    PlatformScope platform_;
};
