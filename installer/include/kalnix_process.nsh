; The running Kalnix: stopped before its file is replaced or removed, started once installed
; for the user at this desktop.

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

; Starts Kalnix now for the person at this desktop, as that person, never with this program's
; token: when an administrator typed their password at a standard user's elevation prompt,
; that token would give the user an elevated Kalnix, and through it an administrator's
; programs. The running protection service has done so already, in every signed-in session.
; Without it the Task Scheduler runs the log-on task for the user of this session, with that
; user's own token, as at log-on. Run as SYSTEM (a deployment tool), or without the task,
; Kalnix waits for the next log-on. Either way no step failed: Kalnix is installed to start
; there.
Function StartKalnix
  ${If} $ServiceRunning = 1
    ${Log} "The protection service starts Kalnix in every signed-in session: the task Kalnix is not run."
    Return
  ${EndIf}
  ${CallCa} IsLocalSystem
  ${If} $0 = 1
    ${Log} "Running as SYSTEM: Kalnix starts at the next log-on."
    Return
  ${EndIf}
  ${CallCa} TaskIsRegistered
  ${If} $0 <> 1
    ${Log} "Kalnix not started: only the task Kalnix can start it as the user at this desktop, and there is none."
    Return
  ${EndIf}
  ${CallCa} RunKalnixTask
  ${If} $0 = 1
    ${Log} "Task Kalnix run for the user at this desktop (Kalnix.exe -fresh)."
  ${Else}
    ${Log} "Kalnix not started: the Task Scheduler did not run the task Kalnix now; Kalnix starts at the next log-on."
  ${EndIf}
FunctionEnd
