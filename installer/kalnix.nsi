; KalnixSetup-<arch>.exe: installs Kalnix for the whole machine, by hand or silently (/S) for
; fleets. One setup program per architecture: x86 for 32-bit Windows, x64 for 64-bit Windows.
; This file is the outline: the pages and the steps of both sections in their order; each
; topic's functions are in include/ (options and exit codes, the helper library, log,
; install folder, the running Kalnix, files and driver, settings, start at log-on, the
; protection service, the Start menu entry, uninstall). The Win32 work is done by KalnixCA.dll, which has tests of its own.
;
; Build inputs (makensis -D...):
;   KALNIX_ARCH        x86 or x64: the architecture of the two files below  (required)
;   KALNIX_EXE         path of Kalnix.exe                          (required)
;   KALNIX_CA          path of the standard build of KalnixCA.dll  (required)
;   OUTFILE            where to write the setup program            (default KalnixSetup-<arch>.exe)
;   KALNIX_LID_DRIVER  path of the lid-sensor driver (.sys) of that architecture
;                      (optional: not ours, so an input)
;   MSI_UPGRADE_CODE   the upgrade code of KalnixSetup-<arch>.msi, {GUID}     (required)
;   SETTINGS_TABLE_NSH the include the build generates from the settings table (required)
;   KALNIX_SIGN_SCRIPT the build tree's signing script, and KALNIX_CMAKE the cmake that runs it
;                      (optional: a signed build, see cmake/signing.cmake)
;   KALNIX_SIGNED_PLUGINS  signed copies of NSIS's plug-ins for this target (with a signed build)

!ifndef KALNIX_ARCH
  !error "define KALNIX_ARCH, x86 or x64"
!endif
!if "${KALNIX_ARCH}" == "x64"
  Target amd64-unicode
!else if "${KALNIX_ARCH}" == "x86"
  Unicode true
!else
  !error "KALNIX_ARCH must be x86 or x64"
!endif
; The plug-ins (System, nsExec, nsDialogs of the pages) are unpacked to %TEMP% and loaded by
; the setup program and the uninstaller: a signed build packs copies signed like the rest, found
; here before NSIS's own, so that application control allows them by the same publisher.
!ifdef KALNIX_SIGNED_PLUGINS
  !addplugindir "${KALNIX_SIGNED_PLUGINS}"
!endif
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ManifestDPIAware true
; A signed build signs the uninstaller before it is packed, so that the one the setup program
; writes carries the signature, and the setup program once it is complete: an Authenticode
; signature covers the whole file.
!ifdef KALNIX_SIGN_SCRIPT
  !uninstfinalize '"${KALNIX_CMAKE}" "-DKALNIX_SIGN_FILE=%1" -P "${KALNIX_SIGN_SCRIPT}"' = 0
  !finalize '"${KALNIX_CMAKE}" "-DKALNIX_SIGN_FILE=%1" -P "${KALNIX_SIGN_SCRIPT}"' = 0
!endif

!ifndef KALNIX_EXE
  !error "define KALNIX_EXE, the path of Kalnix.exe"
!endif
!ifndef KALNIX_CA
  !error "define KALNIX_CA, the path of the standard KalnixCA.dll"
!endif
!ifndef MSI_UPGRADE_CODE
  !error "define MSI_UPGRADE_CODE, the upgrade code of this architecture's Windows Installer package"
!endif
!ifndef SETTINGS_TABLE_NSH
  !error "define SETTINGS_TABLE_NSH, the include generated from common/setting_table.def"
!endif
!ifndef OUTFILE
  !define OUTFILE "KalnixSetup-${KALNIX_ARCH}.exe"
!endif

!define VERSION "1.0.0.0"
!define PUBLISHER "The Kalnix Project"
!define SETTINGS_KEY "Software\Kalnix"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kalnix"

!include LogicLib.nsh
!include FileFunc.nsh
!include x64.nsh
!include MUI2.nsh

Name "Kalnix"
OutFile "${OUTFILE}"
!if "${KALNIX_ARCH}" == "x64"
  InstallDir "$PROGRAMFILES64\Kalnix"
!else
  InstallDir "$PROGRAMFILES\Kalnix"
!endif
; A reinstallation goes where the last one went.
InstallDirRegKey HKLM "${UNINSTALL_KEY}" "InstallLocation"
ShowInstDetails show
ShowUninstDetails show

; makensis works in the script's folder.
!define MUI_ICON "../res/kalnix.ico"
!define MUI_UNICON "../res/kalnix.ico"
!define MUI_ABORTWARNING
!define MUI_WELCOMEPAGE_TEXT "Kalnix keeps this laptop from staying awake with its lid closed.$\r$\n$\r$\nSetup installs Kalnix for every user of this computer: its protection service guards the laptop whoever is signed in, and its icon starts at each sign-in.$\r$\n$\r$\nClick Next to continue."
!insertmacro MUI_PAGE_WELCOME
!insertmacro MUI_PAGE_DIRECTORY
!insertmacro MUI_PAGE_INSTFILES
!insertmacro MUI_PAGE_FINISH
!insertmacro MUI_UNPAGE_CONFIRM
!insertmacro MUI_UNPAGE_INSTFILES
!insertmacro MUI_LANGUAGE "English"

VIProductVersion "${VERSION}"
VIFileVersion "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductName" "Kalnix"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileDescription" "Kalnix Setup"
VIAddVersionKey /LANG=${LANG_ENGLISH} "CompanyName" "${PUBLISHER}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "FileVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "ProductVersion" "${VERSION}"
VIAddVersionKey /LANG=${LANG_ENGLISH} "LegalCopyright" "${PUBLISHER}"

!include "${SETTINGS_TABLE_NSH}"
!include "include/options.nsh"
!include "include/library.nsh"
!include "include/log.nsh"
!include "include/folder.nsh"
!include "include/service.nsh"
!include "include/kalnix_process.nsh"
!include "include/files.nsh"
!include "include/settings.nsh"
!include "include/logon.nsh"
!include "include/start_menu.nsh"
!include "include/uninstall.nsh"
!include "include/upgrade.nsh"
!include "include/event_source.nsh"
!include "include/msi_package.nsh"

Function .onInit
  !insertmacro RefuseWrongArchitecture
  !insertmacro SelectRegView
  StrCpy $LogHandle ""
  StrCpy $Warnings 0
  StrCpy $ServiceStopped 0
  !insertmacro RefuseBadOptions
  !insertmacro RefuseNonAdministrator "Kalnix Setup needs administrator rights."
FunctionEnd

Section "Kalnix" SecKalnix
  SectionIn RO
  SetShellVarContext all
  Call NormalizeInstDir
  !insertmacro ExtractCa

  ; 1. The log, in its own secured folder; an installation from the Windows Installer package
  ;    is left to it; then the install folder, safe before anything goes into it.
  Call OpenSetupLog
  Call RefuseOverMsiPackage
  Call PrepareInstallFolder
  ${Log} "$FolderNote"
  ; 2. A running Kalnix holds its file and the lid-close flags it forced: the protection
  ;    service first, through its own stop, then every Kalnix.exe of the folder.
  Call StopProtection
  Call StopKalnix
!if "${KALNIX_ARCH}" == "x64"
  ; 2a. An earlier 32-bit Kalnix: its settings are taken over before any are written.
  Call TakeOverX86Install
!endif
  ; 3. Kalnix.exe, the uninstaller and the lid-sensor driver's file.
  Call CopyFiles
  ; 4. The settings key and its first values.
  Call WriteSettings
  ; 5. The user's lid-close flags, saved before Kalnix can force them.
  Call SaveLidCloseFlags
  ; 6. The driver service.
  Call StartLidDriver
  ; 7. Start at log-on.
  Call RegisterStartAtLogon
  ; 8. The event source.
  Call RegisterEventSource
  ; 9. The protection service, which starts Kalnix in every signed-in session.
  Call StartProtection
  ; 10. The Start menu entry, then Apps & Features.
  Call CreateStartMenuEntry
  Call WriteUninstallEntry
  ; 11. Without the service running, Kalnix for the user at this desktop: through the log-on
  ;     task, never as this program.
  Call StartKalnix

  !insertmacro CloseLogWithOutcome "Installation"
SectionEnd

Function un.onInit
  !insertmacro SelectRegView
  StrCpy $LogHandle ""
  StrCpy $Warnings 0
  !insertmacro RefuseNonAdministrator "Removing Kalnix needs administrator rights."
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  !insertmacro ExtractCa
  Call un.OpenUninstallLog

  Call un.RemoveProtection
  Call un.StopKalnix
  Call un.RestoreLidCloseFlags
  Call un.RemoveLidDriver
  Call un.RemoveStartAtLogon
  Call un.RemoveStartMenuEntry
  Call un.RemoveFiles
  Call un.RemoveEventSource
  Call un.RemoveKeys

  !insertmacro CloseLogWithOutcome "Uninstallation"
SectionEnd
