; The program files and the lid-sensor driver (not ours: a build input, KALNIX_LID_DRIVER).

; A boot-start driver is loaded before drive letters exist: its image path names the
; Windows folder as \SystemRoot (Wine's driver host reads this form too, not "System32\...").
!define DRIVER_IMAGE_PATH "\SystemRoot\System32\drivers\kalnix.sys"

; NSIS writes over a file with CREATE_ALWAYS, which keeps its owner and permissions: each of
; Kalnix's files is deleted and written anew, never overwritten in place.
!macro DeleteBeforeWriting path
  Delete "${path}"
  ${If} ${FileExists} "${path}"
    ${FailInstall} "Could not replace ${path}: it could not be deleted."
  ${EndIf}
!macroend

; Kalnix.exe and the uninstaller are fatal steps; the driver's file is not.
Function CopyFiles
  SetOutPath "$INSTDIR"
  SetOverwrite try
  !insertmacro DeleteBeforeWriting "$INSTDIR\Kalnix.exe"
  ClearErrors
  File "/oname=Kalnix.exe" "${KALNIX_EXE}"
  ${If} ${Errors}
    ${FailInstall} "Could not write $INSTDIR\Kalnix.exe."
  ${EndIf}
  ${Log} "Copied Kalnix.exe."
  !insertmacro DeleteBeforeWriting "$INSTDIR\Uninstall.exe"
  ClearErrors
  WriteUninstaller "$INSTDIR\Uninstall.exe"
  ${If} ${Errors}
    ${FailInstall} "Could not write $INSTDIR\Uninstall.exe."
  ${EndIf}
!ifdef KALNIX_LID_DRIVER
  ; A 32-bit setup program would land in SysWOW64 on 64-bit Windows.
  ${DisableX64FSRedirection}
  SetOutPath "$SYSDIR\drivers"
  ClearErrors
  File "/oname=kalnix.sys" "${KALNIX_LID_DRIVER}"
  ${If} ${Errors}
    ${Log} "Could not write $SYSDIR\drivers\kalnix.sys (an earlier driver may hold it)."
    Call Warn
  ${Else}
    ${Log} "Copied the lid-sensor driver to $SYSDIR\drivers\kalnix.sys."
  ${EndIf}
  ${EnableX64FSRedirection}
  SetOutPath "$INSTDIR"
!else
  ${Log} "This setup program carries no lid-sensor driver: driver step skipped."
!endif
  SetOverwrite on
FunctionEnd

; Registers and starts the driver service "Kalnix", replacing an earlier one.
Function StartLidDriver
!ifdef KALNIX_LID_DRIVER
  ${CallCaWithText} InstallDriverAndStart "${DRIVER_IMAGE_PATH}"
  ${If} $0 = 1
    ${Log} "InstallDriverAndStart: driver service Kalnix started (${DRIVER_IMAGE_PATH})."
  ${Else}
    ${Log} "InstallDriverAndStart failed (${DRIVER_IMAGE_PATH})."
    Call Warn
  ${EndIf}
!endif
FunctionEnd
