; The settings key, its first values, and the user's lid-close flags saved for the uninstaller.
; Which settings there are, their first values and the options that set them come from the
; generated include of the settings table (WriteFirstValues, Option_*).

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
  !insertmacro WriteFirstValues
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
