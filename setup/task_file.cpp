#include "setup/task_file.h"

#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cwchar>

#include "common/diagnostic_log.h"
#include "common/scoped_handle.h"
#include "setup/exports.h"

namespace {

// The task "Kalnix" up to its action: started at the log-on of every interactive user
// (BUILTIN\Users) with that user's limited rights, never elevated: what it starts is the icon
// of the protection service, which needs none. A laptop tool must start and keep running on
// battery, and for longer than the default three days. Every element other than the action
// stands here, before <Actions>: the tail closes the elements after it. Run on demand for one
// session, the scheduler starts it as that session's user, in the same way.
constexpr wchar_t kTaskHead[] =
    L"<?xml version=\"1.0\" encoding=\"UTF-16\"?>\r\n"
    L"<Task version=\"1.2\" xmlns=\"http://schemas.microsoft.com/windows/2004/02/mit/task\">\r\n"
    L"  <RegistrationInfo>\r\n"
    L"    <Author>The Kalnix Project</Author>\r\n"
    L"    <Description>Starts Kalnix when a user logs on.</Description>\r\n"
    L"  </RegistrationInfo>\r\n"
    L"  <Triggers>\r\n"
    L"    <LogonTrigger>\r\n"
    L"      <Enabled>true</Enabled>\r\n"
    L"    </LogonTrigger>\r\n"
    L"  </Triggers>\r\n"
    L"  <Principals>\r\n"
    L"    <Principal id=\"Author\">\r\n"
    L"      <GroupId>S-1-5-32-545</GroupId>\r\n"
    L"      <RunLevel>LeastPrivilege</RunLevel>\r\n"
    L"    </Principal>\r\n"
    L"  </Principals>\r\n"
    L"  <Settings>\r\n"
    L"    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>\r\n"
    L"    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>\r\n"
    L"    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>\r\n"
    L"    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>\r\n"
    L"    <Priority>5</Priority>\r\n"
    L"  </Settings>\r\n"
    L"  <Actions Context=\"Author\">\r\n"
    L"    <Exec>";

const wchar_t* XmlEscape(wchar_t c) {
    switch (c) {
    case L'&': return L"&amp;";
    case L'<': return L"&lt;";
    case L'>': return L"&gt;";
    }
    return nullptr;
}

// Appends `text` at tail[*used], keeping room for the terminator; false when it does not fit.
bool AppendText(wchar_t* tail, size_t capacity, size_t* used, const wchar_t* text, size_t length) {
    if (length >= capacity - *used) return false;
    wmemcpy(tail + *used, text, length);
    *used += length;
    return true;
}

// Writes the wide text in the given encoding; the conversions need at most three bytes
// per UTF-16 unit.
void WriteEncoded(FILE* file, TaskFileEncoding encoding, const wchar_t* text, size_t length) {
    if (length == 0) return;
    if (encoding == TaskFileEncoding::Utf16Le) {
        // UTF-16LE in memory on x86, so the code units go out as they are.
        fwrite(text, sizeof(wchar_t), length, file);
        return;
    }
    char bytes[kTaskTailChars * 3];
    UINT codePage = encoding == TaskFileEncoding::Utf8 ? CP_UTF8 : CP_ACP;
    int count = WideCharToMultiByte(codePage, 0, text, static_cast<int>(length), bytes,
                                    static_cast<int>(sizeof(bytes)), nullptr, nullptr);
    if (count > 0) fwrite(bytes, 1, static_cast<size_t>(count), file);
}

}  // namespace

bool TaskFileEncodingFromHead(const unsigned char* head, size_t count, TaskFileEncoding* encoding) {
    *encoding = TaskFileEncoding::EightBit;
    if (count >= 2 && head[0] == 0xFE && head[1] == 0xFF) return false;
    if (count >= 2 && head[0] == 0xFF && head[1] == 0xFE) {
        *encoding = TaskFileEncoding::Utf16Le;
    } else if (count >= 3 && head[0] == 0xEF && head[1] == 0xBB && head[2] == 0xBF) {
        *encoding = TaskFileEncoding::Utf8;
    }
    return true;
}

size_t ComposeTaskTail(const wchar_t* command, wchar_t* tail, size_t capacity) {
    if (capacity == 0 || wcslen(command) > kTaskCommandMaxChars) return 0;
    const wchar_t kOpen[] = L"<Command>";
    const wchar_t kClose[] = L"</Command><Arguments>$(Arg0)</Arguments></Exec></Actions></Task>";
    size_t used = 0;
    if (!AppendText(tail, capacity, &used, kOpen, wcslen(kOpen))) return 0;
    for (const wchar_t* c = command; *c; ++c) {
        const wchar_t* entity = XmlEscape(*c);
        bool fits = entity ? AppendText(tail, capacity, &used, entity, wcslen(entity))
                           : AppendText(tail, capacity, &used, c, 1);
        if (!fits) return 0;
    }
    if (!AppendText(tail, capacity, &used, kClose, wcslen(kClose))) return 0;
    tail[used] = L'\0';
    return used;
}

int AppendToTaskFile(const wchar_t* path, const wchar_t* text, size_t length) {
    // Binary I/O and our own mark handling: the runtimes' Unicode append modes disagree
    // on new files and on big-endian marks.
    errno = 0;
    FILE* file = _wfopen(path, L"a+b");
    if (!file) return errno ? errno : EACCES;

    unsigned char head[3] = {};
    size_t count = 0;
    if (fseek(file, 0, SEEK_SET) == 0) count = fread(head, 1, sizeof(head), file);
    TaskFileEncoding encoding;
    if (!TaskFileEncodingFromHead(head, count, &encoding)) {
        fclose(file);
        return EINVAL;
    }
    // A switch from reading to writing needs a positioning call; appends go to the end anyway.
    fseek(file, 0, SEEK_END);
    WriteEncoded(file, encoding, text, length);
    fclose(file);
    return 0;
}

bool __stdcall WriteTaskHead(const wchar_t* taskFilePath) {
    LogMessage(L"CA: Entering WriteTaskHead");
    ScopedFile file(
        CreateFileW(taskFilePath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.valid()) {
        LogFormatted(L"CA: CreateFile failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    // UTF-16LE behind its byte-order mark, so that InstallKalnixTask appends in the same
    // encoding; wchar_t holds UTF-16LE code units, which go out as they are.
    const wchar_t kMark = 0xFEFF;
    DWORD written = 0;
    bool complete = WriteFile(file.get(), &kMark, sizeof(kMark), &written, nullptr) && written == sizeof(kMark);
    DWORD headBytes = sizeof(kTaskHead) - sizeof(wchar_t);
    complete = complete && WriteFile(file.get(), kTaskHead, headBytes, &written, nullptr) && written == headBytes;
    if (!complete) {
        LogFormatted(L"CA: WriteFile failed: %d", static_cast<int>(GetLastError()));
        return false;
    }
    return true;
}
