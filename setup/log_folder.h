#pragma once

#include <windows.h>

#include <aclapi.h>

// The calls through which the log folder and the logs in it are judged and secured. Wine
// keeps no descriptors (every file is owned by the account that made it) and makes no
// junctions, so tests swap these to show what Windows would answer and to read back what was
// set.
struct LogFolderCalls {
    decltype(&::CreateDirectoryW) createDirectory;
    decltype(&::GetSecurityInfo) getSecurityInfo;
    decltype(&::SetSecurityInfo) setSecurityInfo;
    decltype(&::GetFileInformationByHandle) getFileInformation;
};
extern LogFolderCalls g_logFolder;

// What is set aside gets this after its name, then "<process id>-<tick count>".
constexpr wchar_t kSetAsideSuffix[] = L".untrusted-";
