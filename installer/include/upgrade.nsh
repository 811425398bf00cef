; The 64-bit setup program over an earlier 32-bit Kalnix (Program Files (x86), the 32-bit
; registry view): that Kalnix is ended, its settings and saved lid-close settings are taken
; over, and its Run value, files and Apps & Features entry removed, so that one Kalnix is left.
; Its folder is left (exit code 5) when a user could have changed it or a folder above it.

!if "${KALNIX_ARCH}" == "x64"
Function TakeOverX86Install
  SetRegView 32
  ClearErrors
  ReadRegStr $5 HKLM "${UNINSTALL_KEY}" "InstallLocation"
  ${If} ${Errors}
  ${OrIf} $5 == ""
    StrCpy $5 "$PROGRAMFILES32\Kalnix"
  ${EndIf}
  ${IfNot} ${FileExists} "$5\Kalnix.exe"
  ${AndIfNot} ${FileExists} "$5\Uninstall.exe"
    ClearErrors
    EnumRegValue $6 HKLM "${SETTINGS_KEY}" 0
    ${If} ${Errors}
    ${AndIf} $6 == ""
      SetRegView 64
      Return
    ${EndIf}
  ${EndIf}
  ${Log} "Earlier 32-bit Kalnix found in $5: it is taken over."
  ; Run as SYSTEM, StopKalnix could not reach its window.
  ${CallCaWithText} EndInstalledKalnix "$5\Kalnix.exe"
  ${If} $0 <> 1
    ${Log} "EndInstalledKalnix: the 32-bit Kalnix.exe could not be ended."
    Call Warn
  ${EndIf}
  ${CallCa} TakeOverX86Settings
  ${If} $0 = 1
    ${Log} "TakeOverX86Settings: its settings and saved lid-close settings are kept."
  ${Else}
    ${Log} "TakeOverX86Settings failed."
    Call Warn
  ${EndIf}
  DeleteRegValue HKLM "Software\Microsoft\Windows\CurrentVersion\Run" "Kalnix"
  DeleteRegKey HKLM "${UNINSTALL_KEY}"
  SetRegView 64
  ; Its files are deleted by path: only where no user can have put another folder in their way.
  !insertmacro CallInstallFolderExport CheckInstallFolder "$5"
  ${If} $0 <> 1
    ${Log} "The 32-bit Kalnix's folder $5 is left as it is: $3."
    Call Warn
    Return
  ${EndIf}
  Delete "$5\Kalnix.exe"
  Delete "$5\Uninstall.exe"
  Delete "$5\Kalnix.log"
  Delete "$5\KalnixSetup.log"
  Delete "$5\KalnixTask.xml"
  RMDir "$5"
  ${If} ${FileExists} "$5\Kalnix.exe"
    ${Log} "The 32-bit $5\Kalnix.exe could not be removed."
    Call Warn
  ${Else}
    ${Log} "The 32-bit Kalnix's Run value, files and Apps & Features entry are removed."
  ${EndIf}
FunctionEnd
!endif
