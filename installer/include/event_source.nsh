; The event source "Kalnix" of the Application log: its messages are in the installed
; Kalnix.exe. The Services key is one for both architectures; the 64-bit setup writes it in
; the 64-bit view, as SelectRegView has set.

!define EVENT_SOURCE_KEY "SYSTEM\CurrentControlSet\Services\EventLog\Application\Kalnix"

Function RegisterEventSource
  ClearErrors
  WriteRegExpandStr HKLM "${EVENT_SOURCE_KEY}" "EventMessageFile" "$INSTDIR\Kalnix.exe"
  ; Error, warning and information events.
  WriteRegDWORD HKLM "${EVENT_SOURCE_KEY}" "TypesSupported" 7
  ; Kalnix runs without it (its events then show no message text): by now the task, the
  ; driver and the settings are in place, and stopping would leave them without an
  ; Apps & Features entry.
  ${If} ${Errors}
    ${Log} "Event source Kalnix not registered: could not write HKLM\${EVENT_SOURCE_KEY}."
    Call Warn
  ${Else}
    ${Log} "Event source Kalnix registered."
  ${EndIf}
FunctionEnd

Function un.RemoveEventSource
  DeleteRegKey HKLM "${EVENT_SOURCE_KEY}"
  ${Log} "Event source Kalnix removed."
FunctionEnd
