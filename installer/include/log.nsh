; The setup log: every step's outcome goes to the details view and to our own plain-text log
; (Debian's makensis is built without NSIS's logging). The setup program writes
; KalnixSetup.log in the install folder, or in the temporary folder when it stops before that
; folder is safe; the uninstaller writes KalnixUninstall.log in the temporary folder.

Var LogHandle      ; "" until the log is open
Var Warnings       ; count of failed non-fatal steps

!macro Log text
  DetailPrint "${text}"
  ${If} $LogHandle != ""
    FileWrite $LogHandle "${text}$\r$\n"
  ${EndIf}
!macroend
!define Log "!insertmacro Log"

; Opens `path` for appending; without it the steps still show in the details view.
!macro OpenLog path
  ClearErrors
  FileOpen $LogHandle "${path}" a
  ${If} ${Errors}
    StrCpy $LogHandle ""
  ${Else}
    FileSeek $LogHandle 0 END
  ${EndIf}
!macroend

!macro CloseLog
  ${If} $LogHandle != ""
    FileClose $LogHandle
    StrCpy $LogHandle ""
  ${EndIf}
!macroend

Function OpenSetupLog
  !insertmacro OpenLog "$INSTDIR\KalnixSetup.log"
  ${GetTime} "" "L" $0 $1 $2 $3 $4 $5 $6
  ${Log} "Kalnix Setup ${VERSION}, $2-$1-$0 $4:$5:$6, into $INSTDIR, options: $CMDLINE"
FunctionEnd

; The install folder goes away: the uninstaller's log lives in the temporary folder.
Function un.OpenUninstallLog
  !insertmacro OpenLog "$TEMP\KalnixUninstall.log"
  ${GetTime} "" "L" $0 $1 $2 $3 $4 $5 $6
  ${Log} "Kalnix Uninstall ${VERSION}, $2-$1-$0 $4:$5:$6, from $INSTDIR"
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

; Program files or the settings key could not be written: exit code 4.
!macro FailInstall text
  !insertmacro LeaveFailed "${text}" "Installation failed." ${EXIT_FAILED}
!macroend
!define FailInstall "!insertmacro FailInstall"

; The install folder cannot be made safe: nothing is installed, so the log goes to the
; temporary folder; exit code 7.
!macro FailUnsafeFolder text
  !insertmacro OpenLog "$TEMP\KalnixSetup.log"
  ${Log} "Kalnix Setup ${VERSION}, into $INSTDIR, options: $CMDLINE"
  !insertmacro LeaveFailed "${text}" "Installation failed: nothing was installed." ${EXIT_UNSAFE_FOLDER}
!macroend
!define FailUnsafeFolder "!insertmacro FailUnsafeFolder"
