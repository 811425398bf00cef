; The settings key, its first values, and the user's lid-close flags saved for the uninstaller.

; First values of a new installation: automatic protection, 15 s alarm delay; rest after a
; minute of alarm, hibernation after an hour on battery, an alert above 5 % lost per hour of
; standby.
!define FIRST_ACTION 1
!define FIRST_ALARMTIME 15
!define FIRST_RESTAFTER 60
!define FIRST_HIBERNATEAFTER 60
!define FIRST_STANDBYDRAINALERT 5

; Settings and the uninstall entry go to the registry view that Kalnix.exe of this
; architecture reads.
!macro SelectRegView
!if "${KALNIX_ARCH}" == "x64"
  SetRegView 64
!endif
!macroend

; Writes value $1 = $2 unless the user already has one; $3 = 1 forces the write (an option
; given on the command line).
Function SetFirstValue
  Push $0
  ${CallCaWithText} SettingExists $1
  ${If} $0 = 1
  ${AndIf} $3 <> 1
    ${Log} "Settings: $1 kept as it was."
  ${Else}
    ClearErrors
    WriteRegDWORD HKLM "${SETTINGS_KEY}" $1 $2
    ${If} ${Errors}
      Pop $0
      ${FailInstall} "Settings: could not write $1 under HKLM\${SETTINGS_KEY}."
    ${EndIf}
    ${Log} "Settings: $1 = $2."
  ${EndIf}
  Pop $0
FunctionEnd

; The first write creates the key.
Function WriteSettings
  StrCpy $1 "Action"
  ${If} $OptMode != ""
    StrCpy $2 $OptMode
    StrCpy $3 1
  ${Else}
    StrCpy $2 ${FIRST_ACTION}
    StrCpy $3 0
  ${EndIf}
  Call SetFirstValue
  StrCpy $1 "AlarmTime"
  ${If} $OptAlarmTime != ""
    StrCpy $2 $OptAlarmTime
    StrCpy $3 1
  ${Else}
    StrCpy $2 ${FIRST_ALARMTIME}
    StrCpy $3 0
  ${EndIf}
  Call SetFirstValue
  StrCpy $1 "EnableLogging"
  StrCpy $2 0
  StrCpy $3 0
  Call SetFirstValue
  StrCpy $1 "HideTrayIcon"
  Call SetFirstValue
  StrCpy $1 "RestAfter"
  StrCpy $2 ${FIRST_RESTAFTER}
  Call SetFirstValue
  StrCpy $1 "HibernateAfter"
  StrCpy $2 ${FIRST_HIBERNATEAFTER}
  Call SetFirstValue
  StrCpy $1 "StandbyDrainAlert"
  StrCpy $2 ${FIRST_STANDBYDRAINALERT}
  Call SetFirstValue
FunctionEnd

; Saves the user's lid-close flags before anything forces them, once: at a reinstallation
; they may be forced still (Kalnix ended without its own teardown), and saving them would
; lose the user's own for good.
Function SaveLidCloseFlags
  ${CallCaWithText} SettingExists "PowerSettings1"
  StrCpy $2 $0
  ${CallCaWithText} SettingExists "PowerSettings2"
  ${If} $0 = 1
  ${AndIf} $2 = 1
    ${Log} "SavePowerSettings skipped: the lid-close flags saved earlier are kept."
    Return
  ${EndIf}
  ${CallCa} SavePowerSettings
  ${If} $0 = 1
    ${Log} "SavePowerSettings: lid-close flags saved."
  ${Else}
    ${Log} "SavePowerSettings failed."
    Call Warn
  ${EndIf}
FunctionEnd
