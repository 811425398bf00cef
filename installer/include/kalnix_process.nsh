; The running Kalnix: stopped before its file is replaced or removed, started once installed.

!macro DEFINE_STOP_KALNIX un
; Stops a running Kalnix through its own teardown, which also puts back the flags it forced,
; then ends any Kalnix.exe of $INSTDIR still running: run as SYSTEM, TerminateUIProcess
; cannot see the user's tray window.
Function ${un}StopKalnix
  ${CallCa} TerminateUIProcess
  ${If} $0 = 1
    ${Log} "TerminateUIProcess: a running Kalnix was stopped."
  ${Else}
    ${Log} "TerminateUIProcess: no Kalnix window found."
  ${EndIf}
  ${CallCaWithText} EndInstalledKalnix "$INSTDIR\Kalnix.exe"
  ${If} $0 = 1
    ${Log} "EndInstalledKalnix: no Kalnix.exe of $INSTDIR is left running."
  ${Else}
    ${Log} "EndInstalledKalnix: a Kalnix.exe of $INSTDIR could not be ended, or the running processes could not be listed."
  ${EndIf}
FunctionEnd
!macroend
!insertmacro DEFINE_STOP_KALNIX ""
!insertmacro DEFINE_STOP_KALNIX "un."

; Starts Kalnix now, but never in a deployment tool's SYSTEM session: it would hold the
; machine-wide single-instance marker and keep the user's own start at log-on from running.
Function StartKalnix
  ${CallCa} IsLocalSystem
  ${If} $0 = 1
    ${Log} "Running as SYSTEM: Kalnix starts at the next log-on."
    Return
  ${EndIf}
  ClearErrors
  Exec '"$INSTDIR\Kalnix.exe" -fresh'
  ${If} ${Errors}
    ${Log} "Could not start Kalnix.exe."
    Call Warn
  ${Else}
    ${Log} "Started Kalnix.exe -fresh."
  ${EndIf}
FunctionEnd
