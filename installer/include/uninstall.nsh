; The Apps & Features entry, and the uninstaller's steps: everything the setup program laid
; down is taken away again, the user's lid-close flags put back.

Function WriteUninstallEntry
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayName" "Kalnix"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayVersion" "${VERSION}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "Publisher" "${PUBLISHER}"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "DisplayIcon" "$INSTDIR\Kalnix.exe,0"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "InstallLocation" "$INSTDIR"
  WriteRegStr HKLM "${UNINSTALL_KEY}" "UninstallString" '"$INSTDIR\Uninstall.exe"'
  ; Run in place (_?= last, unquoted) so that a deployment tool waits and reads the real exit code.
  WriteRegStr HKLM "${UNINSTALL_KEY}" "QuietUninstallString" '"$INSTDIR\Uninstall.exe" /S _?=$INSTDIR'
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VersionMajor" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "VersionMinor" 0
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoModify" 1
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "NoRepair" 1
  ${GetSize} "$INSTDIR" "/S=0K" $0 $1 $2
  WriteRegDWORD HKLM "${UNINSTALL_KEY}" "EstimatedSize" $0
  ${Log} "Apps & Features entry written ($0 KB)."
FunctionEnd

Var LidSettingsKept  ; 1 when the saved lid-close settings could not be put back

Function un.RestoreLidCloseFlags
  StrCpy $LidSettingsKept 0
  ${CallCa} RestorePowerSettings
  ${If} $0 = 1
    ${Log} "RestorePowerSettings: lid-close flags put back."
    Return
  ${EndIf}
  ; It fails too when the setup program could not save the flags: with nothing saved left,
  ; nothing of the user's is lost with the settings key.
  ${CallCa} PowerSettingsAreSaved
  ${If} $0 = 1
    StrCpy $LidSettingsKept 1
    ${Log} "RestorePowerSettings failed: the saved lid-close settings are kept in HKLM\${SETTINGS_KEY}."
    Call un.Warn
  ${Else}
    ${Log} "RestorePowerSettings: no saved lid-close settings to put back."
  ${EndIf}
FunctionEnd

Function un.RemoveLidDriver
  ${CallCa} RemoveDriver
  ${If} $0 = 1
    ${Log} "RemoveDriver: driver service Kalnix deleted."
  ${Else}
    ${Log} "RemoveDriver: no driver service deleted."
  ${EndIf}
  ${DisableX64FSRedirection}
  Delete /REBOOTOK "$SYSDIR\drivers\kalnix.sys"
  ${EnableX64FSRedirection}
FunctionEnd

Var StartAtLogonLeft  ; 1 when the task or the Run value could not be removed

; A log-on entry left behind runs whatever Kalnix.exe stands at its path at every user's
; log-on: with the folder gone, any user could create it anew and put their own program there,
; for everyone who signs in after. So the folder stays, with Kalnix.exe, while an entry is left.
Function un.RemoveStartAtLogon
  StrCpy $StartAtLogonLeft 0
  Call un.DeleteTask
  ${Log} "Task tool asked to delete the task Kalnix: exit code $0."
  ${CallCa} TaskIsAbsent
  ${If} $0 <> 1
    StrCpy $StartAtLogonLeft 1
    ${Log} "The task Kalnix could not be deleted, or the Task Scheduler could not say that it is gone."
  ${EndIf}
  ${CallCa} DeleteRunKey
  ${If} $0 <> 1
    StrCpy $StartAtLogonLeft 1
    ${Log} "The Run value Kalnix could not be deleted."
  ${EndIf}
  ${If} $StartAtLogonLeft = 1
    ${Log} "$INSTDIR is kept, with Kalnix.exe: the log-on entry left behind starts $INSTDIR\Kalnix.exe, and without the folder any user could put a program there. Remove the entry, then run the uninstaller again."
    Call un.Warn
  ${Else}
    ${Log} "Start at log-on removed: no task Kalnix, no Run value."
  ${EndIf}
FunctionEnd

Function un.RemoveFiles
  ; The service left behind runs the folder's Kalnix.exe as SYSTEM: the same holds, the more so.
  ${If} $ServiceLeft = 1
    ${Log} "$INSTDIR is kept, with Kalnix.exe: the protection service left behind runs $INSTDIR\Kalnix.exe as SYSTEM, and without the folder any user could put a program there. Remove the service (sc delete KalnixProtection), then run the uninstaller again."
    Call un.Warn
    Return
  ${EndIf}
  ${If} $StartAtLogonLeft = 1
    Return
  ${EndIf}
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
FunctionEnd

; The Apps & Features entry goes last: a deployment tool takes its absence for the end. It
; stays with a kept folder, so that the uninstaller can be run again from there.
Function un.RemoveKeys
  ${If} $LidSettingsKept = 1
    ; The user's own lid-close and hibernate settings would be lost with them: only Kalnix's
    ; choices and its record of the lid closures go, and a later installation puts the saved
    ; ones back.
    !insertmacro DeleteOwnValues
  ${Else}
    DeleteRegKey HKLM "${SETTINGS_KEY}"
  ${EndIf}
  ${If} $StartAtLogonLeft <> 1
  ${AndIf} $ServiceLeft <> 1
    DeleteRegKey HKLM "${UNINSTALL_KEY}"
  ${EndIf}
FunctionEnd
