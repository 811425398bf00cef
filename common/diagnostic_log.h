#pragma once

// Appends one line to "Kalnix.log" beside the running process's executable when the
// EnableLogging gate allows. The executable and the standard installer library log only
// when EnableLogging is 1; the diagnostic installer library logs unless it is 1.
void LogMessage(const wchar_t* message);

// Formats with swprintf rules into a line-sized buffer (cut to fit) and logs the result.
void LogFormatted(const wchar_t* format, ...);

// Size of the line buffer, terminator included: a message of up to 1022 characters fits
// with its appended newline.
constexpr int kLogLineChars = 1024;
