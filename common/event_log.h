#pragma once

// The tray program's writer of its events (common/event_report.h) into the Application log,
// through the seam: the source "Kalnix" is registered at the first event and deregistered at
// the end. A failure to report is logged once, never in a loop.
void StartEventLog();
void EndEventLog();
