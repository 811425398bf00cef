; The protection service "KalnixProtection": the installed Kalnix.exe run by Windows as SYSTEM,
; protecting the laptop whoever is signed in, and nobody; it starts Kalnix, with the user's own
; rights, in every signed-in session. KalnixCA.dll registers, starts, stops and removes it.

Var ServiceStopped  ; 1 once this run stopped the service of an earlier installation
Var ServiceRunning  ; 1 once this run started the service
Var ServiceLeft     ; 1 when the uninstaller could not remove the service

; Before any Kalnix.exe is ended or replaced: ending the service's process would leave the power
; settings it changed, and Windows would start it again. Its stop puts them back.
Function StopProtection
  StrCpy $ServiceStopped 0
  ${CallCa} ProtectionServiceInstalled
  ${If} $0 <> 1
    Return
  ${EndIf}
  StrCpy $ServiceStopped 1
  ${CallCa} StopProtectionService
  ${If} $0 = 1
    ${Log} "StopProtectionService: the protection service is stopped; it put back the power settings it changed."
  ${Else}
    ${Log} "StopProtectionService failed: its Kalnix.exe is ended with the others."
  ${EndIf}
FunctionEnd

; An installation that fails after the stop leaves the earlier service to protect the laptop.
Function RestartStoppedProtection
  ${If} $ServiceStopped <> 1
    Return
  ${EndIf}
  ${CallCa} StartProtectionService
  ${If} $0 = 1
    ${Log} "StartProtectionService: the earlier protection service runs again."
  ${Else}
    ${Log} "StartProtectionService failed: the earlier protection service does not run."
  ${EndIf}
FunctionEnd

; Once the files, the settings, the saved lid-close settings, the driver and the event source are
; in place: the service reads them as it starts, and names its lid source in its first event.
Function StartProtection
  StrCpy $ServiceRunning 0
  ${CallCaWithText} InstallProtectionService "$INSTDIR\Kalnix.exe"
  ${If} $0 = 1
    ${Log} "InstallProtectionService: protection service KalnixProtection registered for $INSTDIR\Kalnix.exe."
  ${Else}
    ${Log} "InstallProtectionService failed."
    Call Warn
    ${CallCa} ProtectionServiceInstalled
    ${If} $0 <> 1
      Return
    ${EndIf}
  ${EndIf}
  ${CallCa} StartProtectionService
  ${If} $0 = 1
    StrCpy $ServiceRunning 1
    ${Log} "StartProtectionService: the protection service is running."
  ${Else}
    ${Log} "StartProtectionService failed: the laptop is not protected until it starts."
    Call Warn
  ${EndIf}
FunctionEnd

; First of the uninstaller's steps: the stop puts the power settings back.
Function un.RemoveProtection
  StrCpy $ServiceLeft 0
  ${CallCa} RemoveProtectionService
  ${If} $0 = 1
    ${Log} "RemoveProtectionService: no protection service is left."
  ${Else}
    StrCpy $ServiceLeft 1
    ${Log} "RemoveProtectionService failed: the protection service KalnixProtection is left."
  ${EndIf}
FunctionEnd
