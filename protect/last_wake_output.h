#pragma once

#include "protect/wake_naming.h"

// Names the first wake source in the output of "powercfg /lastwake". Its headings and keys are
// translated with Windows, so only its layout is read: two counts ("... - 1"), each followed
// by bracketed entries ("... [0]"), the wake source's "key: value" lines in a fixed order (its
// type, then a device's instance path, friendly name, description and manufacturer, or a wake
// timer's owner, tagged "[SERVICE]", "[PROCESS]" or "[DRIVER]", and the owner's reason).
// False, with `out` unknown, when the output lists no wake source or is cut short before it;
// a source of another layout is kept as its text, unknown but true.
bool NameLastWake(const wchar_t* text, WakeSource* out);
