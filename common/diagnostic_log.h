#pragma once

// Appends one line to the diagnostic log when the EnableLogging gate allows. The executable
// and the standard installer library log only when EnableLogging is 1; the diagnostic
// installer library logs unless it is 1. The executable takes the gate from Group Policy
// (Software\Policies\Kalnix) when a policy sets it; the installer library never does.
//
// The log is "Kalnix.log" beside the program's own executable until a caller names another
// file with SetLogFilePath. Code in a library loaded by another program logs only where it is
// told: the folder of the program that loaded it may be any user's (a setup program run from
// Downloads or a share), and the setup program runs elevated.
void LogMessage(const wchar_t* message);

// Formats with swprintf rules into a line-sized buffer (cut to fit) and logs the result.
void LogFormatted(const wchar_t* format, ...);

// Sends every later line to `path`; an empty path sends them nowhere, nullptr back to the
// default above. False when the path does not fit the path buffer: then nothing is logged.
bool SetLogFilePath(const wchar_t* path);

// Size of the line buffer, terminator included: a message of up to 1022 characters fits
// with its appended newline.
constexpr int kLogLineChars = 1024;
