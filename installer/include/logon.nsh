; Start at log-on: the scheduled task "Kalnix" when the Task Scheduler registers it, else the
; Run value. KalnixCA.dll writes the task definition, head and command alike.

; How long to wait for the task tool to register the task, in half seconds.
!define TASK_WAIT_TICKS 40

!macro DEFINE_DELETE_TASK un
; Deletes the task "Kalnix"; $0 = the task tool's exit code. Without /F the tool would wait
; for a Y/N answer on Windows.
Function ${un}DeleteTask
  nsExec::Exec '"$SYSDIR\schtasks.exe" /Delete /TN Kalnix /F'
  Pop $0
FunctionEnd
!macroend
!insertmacro DEFINE_DELETE_TASK ""
!insertmacro DEFINE_DELETE_TASK "un."

; $0 = 1 when the task "Kalnix" is registered: the task tool's answer on Windows, where a
; stray file in the task folder proves nothing; the task's file on Wine, whose tool answers
; every /Query with 0.
Function TaskIsStored
  ${CallCa} TaskIsRegistered
FunctionEnd

; $5 = 1 once the task "Kalnix" is registered. The task definition is written where only
; administrators can write (a user who changed it could run anything at every log-on), and
; removed once the task tool is done with it.
Function RegisterTask
  StrCpy $5 0
  StrCpy $8 "$PLUGINSDIR\KalnixTask"
  StrCpy $6 "$8\KalnixTask.xml"
  StrLen $2 $6
  Call TaskIsStored
  ${If} $0 = 1
    ${Log} "The earlier task Kalnix could not be deleted."
    Return
  ${ElseIf} $2 > 200
    ${Log} "Task skipped: the temporary folder path is too long for the task tool."
    Return
  ${EndIf}
  ; The task definition's folder is always a new one: one already there may be another's.
  ${If} ${FileExists} "$8\*.*"
    ${Log} "Task skipped: $8 already exists."
    Return
  ${EndIf}
  ${CallCaWithText} SecureFolder "$8"
  ${If} $0 <> 1
    ${Log} "Task skipped: could not create $8 for administrators only."
    Return
  ${EndIf}
  ${CallCaWithText} WriteTaskHead "$6"
  ${If} $0 <> 1
    ${Log} "Task skipped: could not write $6."
  ${Else}
    ${CallCaWithTexts} InstallKalnixTask "$6" "$INSTDIR\Kalnix.exe"
    ${Log} "InstallKalnixTask: result $0."
    ; The export only starts the task tool: wait for the task itself.
    ${If} $0 = 1
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
FunctionEnd

Function RegisterStartAtLogon
  ; One way only: a Run value left by an earlier installation would start Kalnix twice.
  ${CallCa} DeleteRunKey
  ${Log} "DeleteRunKey: result $0."
  Call DeleteTask
  ${Log} "Earlier task Kalnix deleted: task tool exit code $0."
  Call RegisterTask
  ${If} $5 = 1
    Return
  ${EndIf}
  ${CallCaWithText} SetRunKey '"$INSTDIR\Kalnix.exe"'
  ${Log} "SetRunKey: result $0."
  ; Kalnix.exe asks for no rights of its own: Windows starts it from the Run value at every
  ; log-on with the user's own rights, as the task does.
  ${If} $0 = 1
    ${Log} "Start at log-on by the Run value: Kalnix starts at each log-on with the user's own rights."
  ${Else}
    ${Log} "Kalnix will not start at log-on."
    Call Warn
  ${EndIf}
FunctionEnd
