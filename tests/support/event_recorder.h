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
    DWORD id;  // the event ID as the log shows it, without the severity bits
    std::vector<std::wstring> inserts;
};

class EventRecorder {
public:
    EventRecorder();
    ~EventRecorder();
    EventRecorder(const EventRecorder&) = delete;
    EventRecorder& operator=(const EventRecorder&) = delete;
    const std::vector<RecordedEvent>& Events() const;
    // The recorded events with this ID.
    std::vector<RecordedEvent> WithId(DWORD id) const;
    void Clear();
    // Sources registered and deregistered through the seam.
    int Registrations() const;
    int Deregistrations() const;
private:
    PlatformScope platform_;
};
