; The setup log: every step's outcome goes to the details view and to our own plain-text log
; (Debian's makensis is built without NSIS's logging). The setup program writes
; KalnixSetup.log, the uninstaller KalnixUninstall.log, and KalnixCA.dll its Kalnix.log, all in
; %ProgramData%\Kalnix: a folder only administrators can write. Both programs run elevated or
; as SYSTEM, and in a folder a user can write (the temporary folder, which for SYSTEM is
; C:\Windows\Temp; the folder the setup program was run from) a user could put a link where
; the log goes and have any file written.

Var LogHandle      ; "" until the log is open
Var Warnings       ; count of failed non-fatal steps
Var LogFolder      ; "" when the log folder could not be made safe

!macro Log text
  DetailPrint "${text}"
  ${If} $LogHandle != ""
    FileWrite $LogHandle "${text}$\r$\n"
  ${EndIf}
!macroend
!define Log "!insertmacro Log"

; Opens `name` in the log folder for appending, once KalnixCA.dll has made the folder safe
; and set aside any log in it that an administrator's program did not make; only then is the
; library told to log there too. Without the folder the steps still show in the details view.
!macro OpenLog name
  StrCpy $LogHandle ""
  StrCpy $CaLogPath ""
  StrCpy $LogFolder "$APPDATA\Kalnix"
  ${CallCaWithText} PrepareLogFolder "$LogFolder"
  ${If} $0 = 1
    StrCpy $CaLogPath "$LogFolder\Kalnix.log"
    ClearErrors
    FileOpen $LogHandle "$LogFolder\${name}" a
    ${If} ${Errors}
      StrCpy $LogHandle ""
    ${Else}
      FileSeek $LogHandle 0 END
    ${EndIf}
  ${Else}
    DetailPrint "The log folder $LogFolder could not be made safe: no log file is written."
    StrCpy $LogFolder ""
  ${EndIf}
!macroend

!macro CloseLog
  ${If} $LogHandle != ""
    FileClose $LogHandle
    StrCpy $LogHandle ""
  ${EndIf}
!macroend

!macro DEFINE_LOG_SET_ASIDE un
; Names in the log what PrepareLogFolder renamed aside, now or in an earlier run: each is
; something a user may have planted to have a log written where they chose.
Function ${un}LogSetAside
  ${If} $LogFolder == ""
    Return
  ${EndIf}
  Push $3
  Push $4
  Push $5
  ${For} $5 0 1
    ${If} $5 = 0
      FindFirst $3 $4 "$APPDATA\Kalnix.untrusted-*"
    ${Else}
      FindFirst $3 $4 "$LogFolder\*.untrusted-*"
    ${EndIf}
    ${DoWhile} $4 != ""
      ${Log} "Set aside, not made by an administrator's program (a user's file, a link, or a second name of another file): $4."
      FindNext $3 $4
    ${Loop}
    FindClose $3
  ${Next}
  Pop $5
  Pop $4
  Pop $3
FunctionEnd
!macroend
!insertmacro DEFINE_LOG_SET_ASIDE ""
!insertmacro DEFINE_LOG_SET_ASIDE "un."

Function OpenSetupLog
  !insertmacro OpenLog "KalnixSetup.log"
  ${GetTime} "" "L" $0 $1 $2 $3 $4 $5 $6
  ${Log} "Kalnix Setup ${VERSION}, $2-$1-$0 $4:$5:$6, into $INSTDIR, options: $CMDLINE"
  Call LogSetAside
FunctionEnd

Function un.OpenUninstallLog
  !insertmacro OpenLog "KalnixUninstall.log"
  ${GetTime} "" "L" $0 $1 $2 $3 $4 $5 $6
  ${Log} "Kalnix Uninstall ${VERSION}, $2-$1-$0 $4:$5:$6, from $INSTDIR"
  Call un.LogSetAside
FunctionEnd

!macro DEFINE_WARN un
Function ${un}Warn
  IntOp $Warnings $Warnings + 1
FunctionEnd
!macroend
!insertmacro DEFINE_WARN ""
!insertmacro DEFINE_WARN "un."

; The last line, and the exit code that goes with it: 0, or 5 after a failed step.
!macro CloseLogWithOutcome what
  ${If} $Warnings = 0
    ${Log} "${what} complete."
    SetErrorLevel ${EXIT_OK}
  ${Else}
    ${Log} "${what} complete with $Warnings failed step(s)."
    SetErrorLevel ${EXIT_WARNINGS}
  ${EndIf}
  !insertmacro CloseLog
!macroend

; A fatal step failed: say so and leave with `code`.
!macro LeaveFailed text outcome code
  ${Log} "${text}"
  ${Log} "${outcome}"
  !insertmacro CloseLog
  SetErrorLevel ${code}
  Abort "${text}"
!macroend

; Program files or the settings key could not be written: exit code 4. A protection service
; this run stopped protects the laptop on where it can.
!macro FailInstall text
  ${Log} "${text}"
  Call RestartStoppedProtection
  ${Log} "Installation failed."
  !insertmacro CloseLog
  SetErrorLevel ${EXIT_FAILED}
  Abort "${text}"
!macroend
!define FailInstall "!insertmacro FailInstall"

; The install folder cannot be made safe: nothing is installed; exit code 7.
!macro FailUnsafeFolder text
  !insertmacro LeaveFailed "${text}" "Installation failed: nothing was installed." ${EXIT_UNSAFE_FOLDER}
!macroend
!define FailUnsafeFolder "!insertmacro FailUnsafeFolder"
