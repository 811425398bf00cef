; KalnixSetup-<arch>.exe: installs Kalnix for the whole machine, by hand or silently (/S) for
; fleets. One setup program per architecture: x86 for 32-bit Windows, x64 for 64-bit Windows.
;
; Build inputs (makensis -D...):
;   KALNIX_ARCH        x86 or x64: the architecture of the two files below  (required)
;   KALNIX_EXE         path of Kalnix.exe                          (required)
;   KALNIX_CA          path of the standard build of KalnixCA.dll  (required)
;   OUTFILE            where to write the setup program            (default KalnixSetup-<arch>.exe)
;   KALNIX_LID_DRIVER  path of the lid-sensor driver (.sys) of that architecture
;                      (optional: not ours, so an input)
;
; Exit codes of the setup program (the uninstaller uses 0, 1, 3 and 5 alike; started without
; _?=<install folder> it hands over to a temporary copy of itself and returns 0 at once):
;   0  installed, every step succeeded
;   1  cancelled by the user
;   2  bad command-line option; nothing was changed
;   3  not run with administrator rights; nothing was changed
;   4  installation failed (program files or settings key could not be written)
;   5  installed, but a later step failed (lid-close flags not saved, driver not started,
;      or start at log-on not assured); KalnixSetup.log says which
;   6  the x86 setup program on 64-bit Windows: wrong setup program, nothing was changed
;   7  the install folder cannot be made safe (a system folder, a junction, or its permissions
;      could not be set); nothing was installed. The reason is in KalnixSetup.log in the
;      temporary folder.

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
RequestExecutionLevel admin
SetCompressor /SOLID lzma
ManifestDPIAware true

!ifndef KALNIX_EXE
  !error "define KALNIX_EXE, the path of Kalnix.exe"
!endif
!ifndef KALNIX_CA
  !error "define KALNIX_CA, the path of the standard KalnixCA.dll"
!endif
!ifndef OUTFILE
  !define OUTFILE "KalnixSetup-${KALNIX_ARCH}.exe"
!endif

; The names under which KalnixCA.dll exports its functions: decorated stdcall names on x86.
!if "${KALNIX_ARCH}" == "x64"
  !define CA_TerminateUIProcess "TerminateUIProcess"
  !define CA_DeleteRunKey "DeleteRunKey"
  !define CA_InstallKalnixTask "InstallKalnixTask"
  !define CA_SetRunKey "SetRunKey"
  !define CA_SavePowerSettings "SavePowerSettings"
  !define CA_RestorePowerSettings "RestorePowerSettings"
  !define CA_InstallDriverAndStart "InstallDriverAndStart"
  !define CA_RemoveDriver "RemoveDriver"
  !define CA_SecureFolder "SecureFolder"
!else
  !define CA_TerminateUIProcess "_TerminateUIProcess@0"
  !define CA_DeleteRunKey "_DeleteRunKey@0"
  !define CA_InstallKalnixTask "_InstallKalnixTask@8"
  !define CA_SetRunKey "_SetRunKey@4"
  !define CA_SavePowerSettings "_SavePowerSettings@0"
  !define CA_RestorePowerSettings "_RestorePowerSettings@0"
  !define CA_InstallDriverAndStart "_InstallDriverAndStart@4"
  !define CA_RemoveDriver "_RemoveDriver@0"
  !define CA_SecureFolder "_SecureFolder@4"
!endif

!define VERSION "1.0.0.0"
!define PUBLISHER "The Kalnix Project"
!define SETTINGS_KEY "Software\Kalnix"
!define UNINSTALL_KEY "Software\Microsoft\Windows\CurrentVersion\Uninstall\Kalnix"
; First values of a new installation: automatic protection, 15 s alarm delay.
!define FIRST_ACTION 1
!define FIRST_ALARMTIME 15
; A boot-start driver is loaded before drive letters exist: its image path names the
; Windows folder as \SystemRoot (Wine's driver host reads this form too, not "System32\...").
!define DRIVER_IMAGE_PATH "\SystemRoot\System32\drivers\kalnix.sys"
; How long to wait for the task tool to register the task, in half seconds.
!define TASK_WAIT_TICKS 40

!if "${KALNIX_ARCH}" == "x64"
  !define PROCESSENTRY32W_SIZE 568
  !define PROCESSENTRY32W_HEAD "i, i, i .r3, i, l, i, i, i, i, i"
!else
  !define PROCESSENTRY32W_SIZE 556
  !define PROCESSENTRY32W_HEAD "i, i, i .r3, i, i, i, i, i, i"
!endif

!define EXIT_OK 0
!define EXIT_BAD_OPTION 2
!define EXIT_NOT_ADMIN 3
!define EXIT_FAILED 4
!define EXIT_WARNINGS 5
!define EXIT_WRONG_ARCH 6
!define EXIT_UNSAFE_FOLDER 7

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
!define MUI_WELCOMEPAGE_TEXT "Kalnix keeps this laptop from staying awake with its lid closed.$\r$\n$\r$\nSetup installs Kalnix for every user of this computer and starts it at each log-on.$\r$\n$\r$\nClick Next to continue."
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

Var OptMode        ; "" when /MODE= was not given
Var OptAlarmTime   ; "" when /ALARMTIME= was not given
Var LogHandle      ; "" until the log is open
Var CaDll          ; KalnixCA.dll extracted to $PLUGINSDIR
Var Warnings       ; count of failed non-fatal steps
Var FolderNote     ; what was done to the install folder, logged once the log is open

; ---------------------------------------------------------------- shared helpers

; Every step's outcome goes to the details view and to our own plain-text log
; (Debian's makensis is built without NSIS's logging).
!macro Log text
  DetailPrint "${text}"
  ${If} $LogHandle != ""
    FileWrite $LogHandle "${text}$\r$\n"
  ${EndIf}
!macroend
!define Log "!insertmacro Log"

; Calls a KalnixCA export with no argument; $0 = its one-byte result (the rest is undefined).
!macro CallCa symbol
  System::Call '$CaDll::${symbol}() i .r0'
  IntOp $0 $0 & 0xFF
!macroend
!define CallCa "!insertmacro CallCa"

; The text goes through $1: quotation marks inside it would end the System plugin's own.
!macro CallCaWithText symbol text
  StrCpy $1 `${text}`
  System::Call '$CaDll::${symbol}(w r1) i .r0'
  IntOp $0 $0 & 0xFF
!macroend
!define CallCaWithText "!insertmacro CallCaWithText"

!macro UnloadCa
  System::Call 'kernel32::GetModuleHandleW(w "$CaDll") p .r0'
  ${If} $0 <> 0
    System::Call 'kernel32::FreeLibrary(p r0)'
  ${EndIf}
!macroend
!define UnloadCa "!insertmacro UnloadCa"

!macro DEFINE_SHARED_FUNCTIONS un


; Ends every Kalnix.exe started from $INSTDIR. Running as SYSTEM, TerminateUIProcess cannot
; see the user's tray window, and a running Kalnix.exe could be neither replaced nor removed.
Function ${un}EndInstalledKalnix
  Push $0
  Push $1
  Push $2
  Push $3
  Push $4
  Push $5
  Push $6
  Push $7
  System::Call 'kernel32::CreateToolhelp32Snapshot(i 2, i 0) p .r1'   ; TH32CS_SNAPPROCESS
  ${If} $1 = -1
    ${Log} "Could not list the running processes."
  ${Else}
    ; PROCESSENTRY32W: 9 fields, the fourth (th32DefaultHeapID) pointer-sized, then
    ; szExeFile[260]. On x64 that field is 8 bytes on an 8-byte boundary and the record
    ; is padded to 568 bytes.
    System::Alloc ${PROCESSENTRY32W_SIZE}
    Pop $2
    System::Call '*$2(i ${PROCESSENTRY32W_SIZE})'
    System::Call 'kernel32::Process32FirstW(p r1, p r2) i .r0'
    ${DoWhile} $0 <> 0
      System::Call '*$2(${PROCESSENTRY32W_HEAD}, &w260 .r4)'
      ${If} $4 == "Kalnix.exe"
        ; PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION | SYNCHRONIZE
        System::Call 'kernel32::OpenProcess(i 0x101001, i 0, i r3) p .r5'
        ${If} $5 <> 0
          StrCpy $6 ${NSIS_MAX_STRLEN}
          System::Call 'kernel32::QueryFullProcessImageNameW(p r5, i 0, w .r7, *i r6) i .r0'
          ${If} $0 <> 0
          ${AndIf} $7 == "$INSTDIR\Kalnix.exe"
            System::Call 'kernel32::TerminateProcess(p r5, i 0) i .r0'
            System::Call 'kernel32::WaitForSingleObject(p r5, i 5000)'
            ${Log} "Ended Kalnix.exe (process $3) of $INSTDIR: result $0."
          ${EndIf}
          System::Call 'kernel32::CloseHandle(p r5)'
        ${EndIf}
      ${EndIf}
      System::Call 'kernel32::Process32NextW(p r1, p r2) i .r0'
    ${Loop}
    System::Free $2
    System::Call 'kernel32::CloseHandle(p r1)'
  ${EndIf}
  Pop $7
  Pop $6
  Pop $5
  Pop $4
  Pop $3
  Pop $2
  Pop $1
  Pop $0
FunctionEnd

; Stops a running Kalnix through its own teardown, which also puts back the flags it forced.
Function ${un}StopKalnix
  ${CallCa} ${CA_TerminateUIProcess}
  ${If} $0 = 1
    ${Log} "TerminateUIProcess: a running Kalnix was stopped."
  ${Else}
    ${Log} "TerminateUIProcess: no Kalnix window found."
  ${EndIf}
  Call ${un}EndInstalledKalnix
FunctionEnd

; Deletes the task "Kalnix"; $0 = the task tool's exit code. Without /F the tool would wait
; for a Y/N answer on Windows.
Function ${un}DeleteTask
  nsExec::Exec '"$SYSDIR\schtasks.exe" /Delete /TN Kalnix /F'
  Pop $0
FunctionEnd


!macroend

!insertmacro DEFINE_SHARED_FUNCTIONS ""
!insertmacro DEFINE_SHARED_FUNCTIONS "un."

; $0 = 1 when this process runs as LocalSystem (a deployment tool), else 0.
Function IsLocalSystem
  Push $1
  Push $2
  Push $3
  Push $4
  StrCpy $0 0
  System::Call 'advapi32::OpenProcessToken(p -1, i 8, *p .r1) i .r2'   ; TOKEN_QUERY
  ${If} $2 <> 0
    System::Alloc 256
    Pop $3
    System::Call 'advapi32::GetTokenInformation(p r1, i 1, p r3, i 256, *i .r4) i .r2'   ; TokenUser
    ${If} $2 <> 0
      System::Call '*$3(p .r2)'
      System::Call 'advapi32::IsWellKnownSid(p r2, i 22) i .r0'   ; WinLocalSystemSid
      ${If} $0 <> 0
        StrCpy $0 1
      ${EndIf}
    ${EndIf}
    System::Free $3
    System::Call 'kernel32::CloseHandle(p r1)'
  ${EndIf}
  Pop $4
  Pop $3
  Pop $2
  Pop $1
FunctionEnd

; $0 = 1 when the Task Scheduler's store holds the task "Kalnix". Wine's task tool answers
; every /Query with 0, so the store file is the one test that holds on both.
Function TaskIsStored
  StrCpy $0 0
  ${DisableX64FSRedirection}
  ${If} ${FileExists} "$SYSDIR\Tasks\Kalnix"
    StrCpy $0 1
  ${EndIf}
  ${EnableX64FSRedirection}
FunctionEnd

; ---------------------------------------------------------------- command line

; $0 = 1 when $1 is 1 to 9 decimal digits, else 0; then $1 loses its leading zeros (NSIS
; would read "020" as octal).
Function IsDecimal
  Push $2
  Push $3
  Push $4
  StrLen $2 $1
  StrCpy $0 1
  ${If} $2 < 1
  ${OrIf} $2 > 9
    StrCpy $0 0
  ${EndIf}
  StrCpy $3 0
  ${DoWhile} $3 < $2
    StrCpy $4 $1 1 $3
    ${If} $4 S< "0"
    ${OrIf} $4 S> "9"
      StrCpy $0 0
    ${EndIf}
    IntOp $3 $3 + 1
  ${Loop}
  ${If} $0 = 1
    ${DoWhile} $1 != "0"
      StrCpy $4 $1 1
      ${IfThen} $4 != "0" ${|} ${ExitDo} ${|}
      StrCpy $1 $1 "" 1
      ${IfThen} $1 == "" ${|} StrCpy $1 "0" ${|}
    ${Loop}
  ${EndIf}
  Pop $4
  Pop $3
  Pop $2
FunctionEnd

; Checks every option; $0 = 1 when all are known and valid. Sets $OptMode and $OptAlarmTime.
; A mistyped option must not be ignored silently on a whole fleet.
Function ParseOptions
  ${GetParameters} $R0
  StrCpy $0 1
  ${Do}
    ; skip blanks
    ${DoWhile} $R0 != ""
      StrCpy $R1 $R0 1
      ${IfThen} $R1 != " " ${|} ${ExitDo} ${|}
      StrCpy $R0 $R0 "" 1
    ${Loop}
    ${IfThen} $R0 == "" ${|} ${ExitDo} ${|}
    ; /D= is read by NSIS itself and always comes last (it may hold blanks)
    StrCpy $R1 $R0 3
    ${IfThen} $R1 S== "/D=" ${|} ${ExitDo} ${|}
    ; cut the next token
    StrCpy $R2 0
    StrLen $R3 $R0
    ${DoWhile} $R2 < $R3
      StrCpy $R1 $R0 1 $R2
      ${IfThen} $R1 == " " ${|} ${ExitDo} ${|}
      IntOp $R2 $R2 + 1
    ${Loop}
    StrCpy $R1 $R0 $R2
    StrCpy $R0 $R0 "" $R2
    ; judge it
    StrCpy $R4 $R1 6
    StrCpy $R5 $R1 11
    ${If} $R1 S== "/S"
    ${OrIf} $R1 S== "/NCRC"
      ; read by NSIS itself
    ${ElseIf} $R4 == "/MODE="
      StrCpy $OptMode $R1 "" 6
      ${If} $OptMode S!= "1"
      ${AndIf} $OptMode S!= "2"
        StrCpy $0 0
      ${EndIf}
    ${ElseIf} $R5 == "/ALARMTIME="
      StrCpy $R6 $0
      StrCpy $1 $R1 "" 11
      Call IsDecimal
      ${If} $0 = 1
        StrCpy $OptAlarmTime $1
        ${If} $OptAlarmTime < 5
        ${OrIf} $OptAlarmTime > 60
          StrCpy $0 0
        ${EndIf}
      ${EndIf}
      ${If} $R6 = 0
        StrCpy $0 0
      ${EndIf}
    ${Else}
      StrCpy $0 0
    ${EndIf}
  ${Loop}
FunctionEnd

; Settings and the uninstall entry go to the registry view that Kalnix.exe of this
; architecture reads.
!macro SelectRegView
!if "${KALNIX_ARCH}" == "x64"
  SetRegView 64
!endif
!macroend

; The x86 setup program never installs on 64-bit Windows: a 32-bit Kalnix there would read
; Software\WOW6432Node\Kalnix, where Group Policy never writes. (Its uninstaller still
; removes an installation that exists.)
!macro RefuseWrongArchitecture
!if "${KALNIX_ARCH}" == "x86"
  ${If} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "This is the setup program for 32-bit Windows.$\r$\n$\r$\nOn 64-bit Windows, run KalnixSetup-x64.exe." /SD IDOK
    SetErrorLevel ${EXIT_WRONG_ARCH}
    Quit
  ${EndIf}
!endif
!macroend

Function .onInit
  !insertmacro RefuseWrongArchitecture
  !insertmacro SelectRegView
  StrCpy $OptMode ""
  StrCpy $OptAlarmTime ""
  StrCpy $LogHandle ""
  StrCpy $Warnings 0
  Call ParseOptions
  ${If} $0 = 0
    MessageBox MB_OK|MB_ICONSTOP "Unknown or invalid option.$\r$\n$\r$\nUsage: KalnixSetup.exe [/S] [/MODE=1|2] [/ALARMTIME=5..60] [/D=folder]" /SD IDOK
    SetErrorLevel ${EXIT_BAD_OPTION}
    Quit
  ${EndIf}
  System::Call 'shell32::IsUserAnAdmin() i .r0'
  ${If} $0 = 0
    MessageBox MB_OK|MB_ICONSTOP "Kalnix Setup needs administrator rights." /SD IDOK
    SetErrorLevel ${EXIT_NOT_ADMIN}
    Quit
  ${EndIf}
FunctionEnd

; ---------------------------------------------------------------- install steps

; Fatal step failed: say so and leave with exit code 4.
!macro LeaveFailed text outcome code
  ${Log} "${text}"
  ${Log} "${outcome}"
  ${If} $LogHandle != ""
    FileClose $LogHandle
    StrCpy $LogHandle ""
  ${EndIf}
  ${UnloadCa}
  SetErrorLevel ${code}
  Abort "${text}"
!macroend

!macro FailInstall text
  !insertmacro LeaveFailed "${text}" "Installation failed." ${EXIT_FAILED}
!macroend
!define FailInstall "!insertmacro FailInstall"

; The install folder cannot be made safe: nothing is installed, so the log goes to the
; temporary folder; leave with exit code 7.
!macro FailUnsafeFolder text
  FileOpen $LogHandle "$TEMP\KalnixSetup.log" a
  ${If} ${Errors}
    StrCpy $LogHandle ""
  ${Else}
    FileSeek $LogHandle 0 END
  ${EndIf}
  ${Log} "Kalnix Setup ${VERSION}, into $INSTDIR, options: $CMDLINE"
  !insertmacro LeaveFailed "${text}" "Installation failed: nothing was installed." ${EXIT_UNSAFE_FOLDER}
!macroend
!define FailUnsafeFolder "!insertmacro FailUnsafeFolder"

Function Warn
  IntOp $Warnings $Warnings + 1
FunctionEnd

; $0 = 1 when $2 is the folder $1 or lies inside it: whole path components, any case.
Function IsInFolder
  Push $3
  Push $4
  StrCpy $0 0
  StrLen $3 $1
  StrCpy $4 $2 $3
  ${If} $4 == $1
    StrCpy $4 $2 1 $3
    ${If} $4 == ""
    ${OrIf} $4 == "\"
      StrCpy $0 1
    ${EndIf}
  ${EndIf}
  Pop $4
  Pop $3
FunctionEnd

; The full path of $INSTDIR, without "." or ".." or forward slashes: /D= may hold them.
Function NormalizeInstDir
  Push $0
  Push $1
  System::Call 'kernel32::GetFullPathNameW(w "$INSTDIR", i ${NSIS_MAX_STRLEN}, w .r1, p 0) i .r0'
  ${If} $0 > 0
  ${AndIf} $0 < ${NSIS_MAX_STRLEN}
    StrCpy $INSTDIR $1
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

; Kalnix runs elevated at every log-on, so nothing in its folder may be writable by standard
; users. Program Files keeps them out by its own permissions; any other folder gets
; permissions of its own before anything is copied into it.
Function PrepareInstallFolder
!if "${KALNIX_ARCH}" == "x64"
  StrCpy $1 $PROGRAMFILES64
!else
  StrCpy $1 $PROGRAMFILES
!endif
  StrCpy $2 $INSTDIR
  Call IsInFolder
  ${If} $0 = 1
  ${AndIf} $INSTDIR != $1
    ClearErrors
    CreateDirectory "$INSTDIR"
    ${If} ${Errors}
      ${FailInstall} "Could not create $INSTDIR."
    ${EndIf}
    StrCpy $FolderNote "Install folder in Program Files: its inherited permissions are kept."
    Return
  ${EndIf}

  ; Folders whose permissions belong to the system: replacing them would break Windows or
  ; other programs, and their contents would inherit them.
  StrCpy $3 $INSTDIR 1 1
  StrCpy $4 $INSTDIR 1 2
  StrLen $5 $INSTDIR
  ${If} $3 != ":"
  ${OrIf} $4 != "\"
    ${FailUnsafeFolder} "Install folder $INSTDIR is not on a drive of this computer: setup does not set its permissions."
  ${EndIf}
  ${If} $5 <= 3
  ${OrIf} $INSTDIR == $PROGRAMFILES32
  ${OrIf} $INSTDIR == $PROGRAMFILES64
    ${FailUnsafeFolder} "Install folder $INSTDIR is a system folder: setup does not change its permissions."
  ${EndIf}
  StrCpy $1 $WINDIR
  Call IsInFolder
  ${If} $0 = 1
    ${FailUnsafeFolder} "Install folder $INSTDIR is in the Windows folder: setup does not change its permissions."
  ${EndIf}

  StrCpy $5 "new"
  ${If} ${FileExists} "$INSTDIR\*.*"
    StrCpy $5 "existing"
  ${EndIf}
  ; Its parents keep their own permissions; the folder itself is created safe.
  ${GetParent} "$INSTDIR" $3
  CreateDirectory "$3"
  ${CallCaWithText} ${CA_SecureFolder} "$INSTDIR"
  ${If} $0 <> 1
    ${FailUnsafeFolder} "Could not make the install folder $INSTDIR safe: not a plain folder, or its permissions could not be set."
  ${EndIf}
  StrCpy $FolderNote "Install folder outside Program Files ($5): permissions set: inheritance removed; Administrators and SYSTEM full control; Users read and execute."
FunctionEnd

; $1 = value name; $0 = 1 when the settings key already holds it (of any type).
Function SettingExists
  Push $2
  Push $3
  StrCpy $0 0
  ; HKEY_LOCAL_MACHINE, KEY_QUERY_VALUE: this program's own view, the one Kalnix.exe of the
  ; same architecture opens
  System::Call 'advapi32::RegOpenKeyExW(p 0x80000002, w "${SETTINGS_KEY}", i 0, i 1, *p .r2) i .r3'
  ${If} $3 = 0
    System::Call 'advapi32::RegQueryValueExW(p r2, w r1, p 0, p 0, p 0, p 0) i .r3'
    ${If} $3 = 0
      StrCpy $0 1
    ${EndIf}
    System::Call 'advapi32::RegCloseKey(p r2)'
  ${EndIf}
  Pop $3
  Pop $2
FunctionEnd

; Writes value $1 = $2 unless the user already has one; $3 = 1 forces the write (an option
; given on the command line).
Function SetFirstValue
  Push $0
  Call SettingExists
  ${If} $0 = 1
  ${AndIf} $3 <> 1
    ${Log} "Settings: $1 kept as it was."
  ${Else}
    ClearErrors
    WriteRegDWORD HKLM "${SETTINGS_KEY}" $1 $2
    ${If} ${Errors}
      Pop $0
      ${FailInstall} "Settings: could not write $1 under HKLM\${SETTINGS_KEY}."
    ${EndIf}
    ${Log} "Settings: $1 = $2."
  ${EndIf}
  Pop $0
FunctionEnd

Function WriteSettings
  ; The first write creates the key.
  StrCpy $1 "Action"
  ${If} $OptMode != ""
    StrCpy $2 $OptMode
    StrCpy $3 1
  ${Else}
    StrCpy $2 ${FIRST_ACTION}
    StrCpy $3 0
  ${EndIf}
  Call SetFirstValue
  StrCpy $1 "AlarmTime"
  ${If} $OptAlarmTime != ""
    StrCpy $2 $OptAlarmTime
    StrCpy $3 1
  ${Else}
    StrCpy $2 ${FIRST_ALARMTIME}
    StrCpy $3 0
  ${EndIf}
  Call SetFirstValue
  StrCpy $1 "EnableLogging"
  StrCpy $2 0
  StrCpy $3 0
  Call SetFirstValue
  StrCpy $1 "HideTrayIcon"
  Call SetFirstValue
FunctionEnd

Function WriteUninstallEntry
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Kalnix"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Kalnix.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VersionMajor" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VersionMinor" 0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  ${Log} "Apps & Features entry written ($0 KB)."
FunctionEnd

; The task head: log-on trigger, every interactive user (BUILTIN\Users), highest privileges.
; It ends inside <Exec>; InstallKalnixTask appends the command and closes the elements, so
; every other element must stand before <Actions>. UTF-16LE with its byte-order mark, so
; that the library appends in the same encoding.
Function WriteTaskHead
  ; $1 = path; $0 = 1 when written
  ClearErrors
  FileOpen $2 $1 w
  ${If} ${Errors}
    StrCpy $0 0
    Return
  ${EndIf}
  FileWriteUTF16LE /BOM $2 '<?xml version="1.0" encoding="UTF-16"?>$\r$\n'
  FileWriteUTF16LE $2 '<Task version="1.2" xmlns="http://schemas.microsoft.com/windows/2004/02/mit/task">$\r$\n'
  FileWriteUTF16LE $2 '  <RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $2 '    <Author>${PUBLISHER}</Author>$\r$\n'
  FileWriteUTF16LE $2 '    <Description>Starts Kalnix when a user logs on.</Description>$\r$\n'
  FileWriteUTF16LE $2 '  </RegistrationInfo>$\r$\n'
  FileWriteUTF16LE $2 '  <Triggers>$\r$\n'
  FileWriteUTF16LE $2 '    <LogonTrigger>$\r$\n'
  FileWriteUTF16LE $2 '      <Enabled>true</Enabled>$\r$\n'
  FileWriteUTF16LE $2 '    </LogonTrigger>$\r$\n'
  FileWriteUTF16LE $2 '  </Triggers>$\r$\n'
  FileWriteUTF16LE $2 '  <Principals>$\r$\n'
  FileWriteUTF16LE $2 '    <Principal id="Author">$\r$\n'
  FileWriteUTF16LE $2 '      <GroupId>S-1-5-32-545</GroupId>$\r$\n'
  FileWriteUTF16LE $2 '      <RunLevel>HighestAvailable</RunLevel>$\r$\n'
  FileWriteUTF16LE $2 '    </Principal>$\r$\n'
  FileWriteUTF16LE $2 '  </Principals>$\r$\n'
  ; A laptop tool must start and keep running on battery, and for longer than the
  ; default three days.
  FileWriteUTF16LE $2 '  <Settings>$\r$\n'
  FileWriteUTF16LE $2 '    <MultipleInstancesPolicy>IgnoreNew</MultipleInstancesPolicy>$\r$\n'
  FileWriteUTF16LE $2 '    <DisallowStartIfOnBatteries>false</DisallowStartIfOnBatteries>$\r$\n'
  FileWriteUTF16LE $2 '    <StopIfGoingOnBatteries>false</StopIfGoingOnBatteries>$\r$\n'
  FileWriteUTF16LE $2 '    <ExecutionTimeLimit>PT0S</ExecutionTimeLimit>$\r$\n'
  FileWriteUTF16LE $2 '    <Priority>5</Priority>$\r$\n'
  FileWriteUTF16LE $2 '  </Settings>$\r$\n'
  FileWriteUTF16LE $2 '  <Actions Context="Author">$\r$\n'
  FileWriteUTF16LE $2 '    <Exec>'
  FileClose $2
  StrCpy $0 1
FunctionEnd

; Start at log-on: the task "Kalnix" when the Task Scheduler registers it, else the Run value.
Function RegisterStartAtLogon
  ; One way only: a Run value left by an earlier installation would start Kalnix twice.
  ${CallCa} ${CA_DeleteRunKey}
  ${Log} "DeleteRunKey: result $0."
  Call DeleteTask
  ${Log} "Earlier task Kalnix deleted: task tool exit code $0."

  StrCpy $5 0   ; 1 once the task is registered
  ; The task definition runs elevated: it is written where only administrators can write,
  ; and removed once the task tool is done with it.
  StrCpy $8 "$PLUGINSDIR\KalnixTask"
  StrCpy $6 "$8\KalnixTask.xml"
  StrLen $2 $6
  Call TaskIsStored
  ${If} $0 = 1
    ${Log} "The earlier task Kalnix could not be deleted."
  ${ElseIf} $2 > 200
    ${Log} "Task skipped: the temporary folder path is too long for the task tool."
  ${Else}
    ${CallCaWithText} ${CA_SecureFolder} "$8"
    ${If} $0 <> 1
      ${Log} "Task skipped: could not create $8 for administrators only."
    ${Else}
      StrCpy $1 $6
      ClearErrors
      Call WriteTaskHead
      ${If} $0 = 0
        ${Log} "Task skipped: could not write $6."
      ${Else}
        System::Call '$CaDll::${CA_InstallKalnixTask}(w r6, w "$INSTDIR\Kalnix.exe") i .r0'
        IntOp $0 $0 & 0xFF
        ${Log} "InstallKalnixTask: result $0."
        ${If} $0 = 1
          ; The export only starts the task tool: wait for the task itself.
          ${For} $7 1 ${TASK_WAIT_TICKS}
            Call TaskIsStored
            ${If} $0 = 1
              StrCpy $5 1
              ${ExitFor}
            ${EndIf}
            Sleep 500
          ${Next}
        ${EndIf}
        ${If} $5 = 1
          ${Log} "Task Kalnix registered."
        ${Else}
          ${Log} "Task Kalnix not registered."
        ${EndIf}
      ${EndIf}
      Delete $6
      RMDir $8
      ${Log} "Task definition removed."
    ${EndIf}
  ${EndIf}

  ${If} $5 = 0
    ${CallCaWithText} ${CA_SetRunKey} '"$INSTDIR\Kalnix.exe"'
    ${Log} "SetRunKey: result $0."
    ; Kalnix requires administrator rights, and with User Account Control on Windows does
    ; not start such a program from the Run value at log-on.
    ${If} $0 = 1
      ${Log} "Start at log-on is not assured: with User Account Control on, the Run value does not start Kalnix."
    ${Else}
      ${Log} "Kalnix will not start at log-on."
    ${EndIf}
    Call Warn
  ${EndIf}
FunctionEnd

Section "Kalnix" SecKalnix
  SectionIn RO
  SetShellVarContext all

  Call NormalizeInstDir
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "/oname=KalnixCA.dll" "${KALNIX_CA}"
  StrCpy $CaDll "$PLUGINSDIR\KalnixCA.dll"

  ; 1. The install folder, safe before anything goes into it (the log included).
  Call PrepareInstallFolder
  ClearErrors
  FileOpen $LogHandle "$INSTDIR\KalnixSetup.log" a
  ${If} ${Errors}
    StrCpy $LogHandle ""
  ${Else}
    FileSeek $LogHandle 0 END
  ${EndIf}
  ${GetTime} "" "L" $0 $1 $2 $3 $4 $5 $6
  ${Log} "Kalnix Setup ${VERSION}, $2-$1-$0 $4:$5:$6, into $INSTDIR, options: $CMDLINE"
  ${Log} "$FolderNote"

  ; 1. A running Kalnix holds its file and the lid-close flags it forced.
  Call StopKalnix

  ; 2. Files.
  SetOutPath "$INSTDIR"
  SetOverwrite try
  ClearErrors
  File "/oname=Kalnix.exe" "${KALNIX_EXE}"
  ${If} ${Errors}
    ${FailInstall} "Could not write $INSTDIR\Kalnix.exe."
  ${EndIf}
  ${Log} "Copied Kalnix.exe."
  ClearErrors
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ${If} ${Errors}
    ${FailInstall} "Could not write $INSTDIR\Uninstall.exe."
  ${EndIf}
!ifdef KALNIX_LID_DRIVER
  ; A 32-bit setup program would land in SysWOW64 on 64-bit Windows.
  ${DisableX64FSRedirection}
  SetOutPath "$SYSDIR\drivers"
  ClearErrors
  File "/oname=kalnix.sys" "${KALNIX_LID_DRIVER}"
  ${If} ${Errors}
    ${Log} "Could not write $SYSDIR\drivers\kalnix.sys (an earlier driver may hold it)."
    Call Warn
  ${Else}
    ${Log} "Copied the lid-sensor driver to $SYSDIR\drivers\kalnix.sys."
  ${EndIf}
  ${EnableX64FSRedirection}
  SetOutPath "$INSTDIR"
!else
  ${Log} "This setup program carries no lid-sensor driver: driver step skipped."
!endif
  SetOverwrite on

  ; 3. Settings key and its first values.
  Call WriteSettings

  ; 4. Save the user's lid-close flags before anything forces them, once: at a
  ; reinstallation they may be forced still (Kalnix ended without its own teardown), and
  ; saving them would lose the user's own for good.
  StrCpy $1 "PowerSettings1"
  Call SettingExists
  StrCpy $2 $0
  StrCpy $1 "PowerSettings2"
  Call SettingExists
  ${If} $0 = 1
  ${AndIf} $2 = 1
    ${Log} "SavePowerSettings skipped: the lid-close flags saved earlier are kept."
  ${Else}
    ${CallCa} ${CA_SavePowerSettings}
    ${If} $0 = 1
      ${Log} "SavePowerSettings: lid-close flags saved."
    ${Else}
      ${Log} "SavePowerSettings failed."
      Call Warn
    ${EndIf}
  ${EndIf}

  ; 5. Driver service.
!ifdef KALNIX_LID_DRIVER
  ${CallCaWithText} ${CA_InstallDriverAndStart} "${DRIVER_IMAGE_PATH}"
  ${If} $0 = 1
    ${Log} "InstallDriverAndStart: driver service Kalnix started (${DRIVER_IMAGE_PATH})."
  ${Else}
    ${Log} "InstallDriverAndStart failed (${DRIVER_IMAGE_PATH})."
    Call Warn
  ${EndIf}
!endif

  ; 6. Start at log-on.
  Call RegisterStartAtLogon

  ; 7. Apps & Features.
  Call WriteUninstallEntry

  ; 8. Start Kalnix now, but never in a deployment tool's SYSTEM session: it would hold the
  ; machine-wide single-instance marker and keep the user's own start at log-on from running.
  Call IsLocalSystem
  ${If} $0 = 1
    ${Log} "Running as SYSTEM: Kalnix starts at the next log-on."
  ${Else}
    ClearErrors
    Exec '"$INSTDIR\Kalnix.exe" -fresh'
    ${If} ${Errors}
      ${Log} "Could not start Kalnix.exe."
      Call Warn
    ${Else}
      ${Log} "Started Kalnix.exe -fresh."
    ${EndIf}
  ${EndIf}

  ${If} $Warnings = 0
    ${Log} "Installation complete."
    SetErrorLevel ${EXIT_OK}
  ${Else}
    ${Log} "Installation complete with $Warnings failed step(s)."
    SetErrorLevel ${EXIT_WARNINGS}
  ${EndIf}
  FileClose $LogHandle
  StrCpy $LogHandle ""
  ${UnloadCa}   ; so that $PLUGINSDIR can be removed
SectionEnd

; ---------------------------------------------------------------- uninstall

Function un.onInit
  !insertmacro SelectRegView
  StrCpy $LogHandle ""
  StrCpy $Warnings 0
  System::Call 'shell32::IsUserAnAdmin() i .r0'
  ${If} $0 = 0
    MessageBox MB_OK|MB_ICONSTOP "Removing Kalnix needs administrator rights." /SD IDOK
    SetErrorLevel ${EXIT_NOT_ADMIN}
    Quit
  ${EndIf}
FunctionEnd

Section "Uninstall"
  SetShellVarContext all
  ; The install folder goes away: the uninstaller's log lives in the temporary folder.
  FileOpen $LogHandle "$TEMP\KalnixUninstall.log" a
  ${If} ${Errors}
    StrCpy $LogHandle ""
  ${Else}
    FileSeek $LogHandle 0 END
  ${EndIf}
  ${GetTime} "" "L" $0 $1 $2 $3 $4 $5 $6
  ${Log} "Kalnix Uninstall ${VERSION}, $2-$1-$0 $4:$5:$6, from $INSTDIR"

  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "/oname=KalnixCA.dll" "${KALNIX_CA}"
  StrCpy $CaDll "$PLUGINSDIR\KalnixCA.dll"

  Call un.StopKalnix

  ${CallCa} ${CA_RestorePowerSettings}
  ${If} $0 = 1
    ${Log} "RestorePowerSettings: lid-close flags put back."
  ${Else}
    ${Log} "RestorePowerSettings failed."
    Call un.Warn
  ${EndIf}

  ${CallCa} ${CA_RemoveDriver}
  ${If} $0 = 1
    ${Log} "RemoveDriver: driver service Kalnix deleted."
  ${Else}
    ${Log} "RemoveDriver: no driver service deleted."
  ${EndIf}
  ${DisableX64FSRedirection}
  Delete /REBOOTOK "$SYSDIR\drivers\kalnix.sys"
  ${EnableX64FSRedirection}

  Call un.DeleteTask
  ${Log} "Task Kalnix deleted: task tool exit code $0."
  ${CallCa} ${CA_DeleteRunKey}
  ${Log} "DeleteRunKey: result $0."

  ${UnloadCa}

  Delete "$INSTDIR\Kalnix.exe"
  Delete "$INSTDIR\Kalnix.log"
  Delete "$INSTDIR\KalnixTask.xml"
  Delete "$INSTDIR\KalnixSetup.log"
  ; Run in place (_?=), the uninstaller cannot delete itself before the next restart.
  Delete /REBOOTOK "$INSTDIR\Uninstall.exe"
  RMDir /REBOOTOK "$INSTDIR"
  ${If} ${FileExists} "$INSTDIR\Kalnix.exe"
    ${Log} "$INSTDIR\Kalnix.exe is in use: left in place."
    Call un.Warn
  ${EndIf}
  DeleteRegKey HKLM "${SETTINGS_KEY}"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"

  ${If} $Warnings = 0
    ${Log} "Uninstallation complete."
  ${Else}
    ${Log} "Uninstallation complete with $Warnings failed step(s)."
    SetErrorLevel ${EXIT_WARNINGS}
  ${EndIf}
  FileClose $LogHandle
  StrCpy $LogHandle ""
SectionEnd

Function un.Warn
  IntOp $Warnings $Warnings + 1
FunctionEnd
