; The event source "Kalnix" of the Application log: its messages are in the installed
; Kalnix.exe. The Services key is one for both architectures; the 64-bit setup writes it in
; the 64-bit view, as SelectRegView has set.

!define EVENT_SOURCE_KEY "SYSTEM\CurrentControlSet\Services\EventLog\Application\Kalnix"

Function RegisterEventSource
  ClearErrors
  WriteRegExpandStr HKLM "${EVENT_SOURCE_KEY}" "EventMessageFile" "$INSTDIR\Kalnix.exe"
  ; Error, warning and information events.
  WriteRegDWORD HKLM "${EVENT_SOURCE_KEY}" "TypesSupported" 7
  ${If} ${Errors}
    ${FailInstall} "Event source: could not write HKLM\${EVENT_SOURCE_KEY}."
  ${EndIf}
  ${Log} "Event source Kalnix registered."
FunctionEnd

Function un.RemoveEventSource
  DeleteRegKey HKLM "${EVENT_SOURCE_KEY}"
  ${Log} "Event source Kalnix removed."
FunctionEnd
