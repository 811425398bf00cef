#pragma once

// The protection service's names, shared by Kalnix.exe's roles (the service itself, the face
// in each session that finds it) and by the installer helper library that registers it. The
// name "Kalnix" stays the lid-sensor driver's service.
constexpr const wchar_t* kProtectionServiceName = L"KalnixProtection";
constexpr const wchar_t* kProtectionServiceDisplayName = L"Kalnix protection";
constexpr const wchar_t* kProtectionServiceDescription =
    L"Keeps this laptop from staying awake with its lid closed, for every user and with nobody signed in. "
    L"Stopping it puts the lid-close settings back.";
// The switch on Kalnix.exe's command line that makes it the service.
constexpr const char* kServiceSwitch = "-service";
// The pipe through which each session's Kalnix talks to the service.
constexpr const wchar_t* kProtectionPipeName = L"\\\\.\\pipe\\KalnixProtection";
