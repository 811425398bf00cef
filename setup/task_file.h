#pragma once

#include <cstddef>

// The task definition of "Kalnix" is written here alone: its head by WriteTaskHead (every
// element up to the action's Exec start tag), the tail by InstallKalnixTask (the action's
// Command and Arguments elements and the closing tags of Exec, Actions and Task). The
// arguments are the task's $(Arg0): what the setup program hands over when it runs the task.

// Longest command accepted, in wide characters as the setup program passes it.
constexpr size_t kTaskCommandMaxChars = 500;
// "<Command>", the command with every character escaped at its longest ("&amp;"),
// "</Command>", "<Arguments>$(Arg0)</Arguments>", "</Exec></Actions></Task>" and the terminator.
constexpr size_t kTaskTailChars = 9 + kTaskCommandMaxChars * 5 + 10 + 30 + 24 + 1;

enum class TaskFileEncoding { EightBit, Utf8, Utf16Le };

// The encoding that the file's first bytes ask for. False for a UTF-16 big-endian mark,
// which is refused; a head without a mark (or no head at all) gets 8-bit text.
bool TaskFileEncodingFromHead(const unsigned char* head, size_t count, TaskFileEncoding* encoding);

// Writes the tail for `command` into `tail` (with &, < and > escaped for XML) and returns
// its length; 0 when the command is longer than kTaskCommandMaxChars or the tail does not
// fit `capacity`.
size_t ComposeTaskTail(const wchar_t* command, wchar_t* tail, size_t capacity);

// Opens the task file (creating it when missing), reads its byte-order mark and appends
// `text` in the matching encoding, never writing a mark. Returns 0, or the C runtime's
// error number: that of the failed open, or EINVAL for a big-endian mark (file unchanged).
int AppendToTaskFile(const wchar_t* path, const wchar_t* text, size_t length);
