#pragma once

#include <windows.h>

// The system's power tool, powercfg.exe: "powercfg /requests" for the wake report, "powercfg
// /lastwake" for what woke the laptop. Run by full path, hidden, its output read through a
// pipe, ended at a stop event or after 15 s.

constexpr DWORD kMaxToolOutputBytes = 256 * 1024;

// ERROR_SUCCESS with the tool's output in `bytes` (kMaxToolOutputBytes at most) and its exit
// code, or the failed call's error, named in *failedCall.
DWORD RunRequestTool(HANDLE stop, BYTE* bytes, DWORD* size, DWORD* exitCode, const wchar_t** failedCall);

// The same with another of the tool's options ("/lastwake").
DWORD RunPowerTool(const wchar_t* option, HANDLE stop, BYTE* bytes, DWORD* size, DWORD* exitCode,
                   const wchar_t** failedCall);

// The tool's output as text: UTF-16 when it says so (a byte order mark, or a zero
// second byte), else the OEM code page. Returns the characters written, terminator excluded.
int DecodeToolOutput(const BYTE* bytes, DWORD size, wchar_t* text, int chars);
