; Command-line options, the checks made before anything changes, and the exit codes.
;
; Exit codes of the setup program (the uninstaller uses 0, 1, 3 and 5 alike; started without
; _?=<install folder> it hands over to a temporary copy of itself and returns 0 at once):
;   0  installed, every step succeeded
;   1  cancelled by the user
;   2  bad command-line option; nothing was changed
;   3  not run with administrator rights; nothing was changed
;   4  installation failed (program files or settings key could not be written, or an
;      earlier program file could not be deleted first)
;   5  installed, but a later step failed (lid-close flags not saved, driver not started,
;      no start at log-on at all, event source not registered, protection service not
;      registered or not started, Start menu entry not created, or the earlier 32-bit
;      Kalnix's folder left as it is); KalnixSetup.log says which
;   6  the x86 setup program on 64-bit Windows: wrong setup program, nothing was changed
;   7  the install folder was refused (a folder on its path that users could change, a
;      junction, a profile, a system folder, or its permissions could not be set); nothing was
;      installed. The folder and the reason are in KalnixSetup.log, in the log folder as always.
;   8  Kalnix is installed from its Windows Installer package (KalnixSetup-<arch>.msi): the setup
;      program does not install over it; nothing was installed. KalnixSetup.log names the package.
!define EXIT_OK 0
!define EXIT_BAD_OPTION 2
!define EXIT_NOT_ADMIN 3
!define EXIT_FAILED 4
!define EXIT_WARNINGS 5
!define EXIT_WRONG_ARCH 6
!define EXIT_UNSAFE_FOLDER 7
!define EXIT_MSI_INSTALLED 8

; The options' variables and ranges (Option_MODE, OPTION_MODE_LEAST, ...) come from the
; generated include of the settings table.

; $0 = 1 when $1 is 1 to 9 decimal digits, else 0; then $1 loses its leading zeros (NSIS
; would read "020" as octal).
Function IsDecimal
  Push $2
  Push $3
  Push $4
  StrLen $2 $1
  StrCpy $0 1
  ${If} $2 < 1
  ${OrIf} $2 > 9
    StrCpy $0 0
  ${EndIf}
  StrCpy $3 0
  ${DoWhile} $3 < $2
    StrCpy $4 $1 1 $3
    ${If} $4 S< "0"
    ${OrIf} $4 S> "9"
      StrCpy $0 0
    ${EndIf}
    IntOp $3 $3 + 1
  ${Loop}
  ${If} $0 = 1
    ${DoWhile} $1 != "0"
      StrCpy $4 $1 1
      ${IfThen} $4 != "0" ${|} ${ExitDo} ${|}
      StrCpy $1 $1 "" 1
      ${IfThen} $1 == "" ${|} StrCpy $1 "0" ${|}
    ${Loop}
  ${EndIf}
  Pop $4
  Pop $3
  Pop $2
FunctionEnd

; Checks every option; $0 = 1 when all are known and valid. Sets $Option_MODE and
; $Option_ALARMTIME. A mistyped option must not be ignored silently on a whole fleet.
Function ParseOptions
  StrCpy $Option_MODE ""
  StrCpy $Option_ALARMTIME ""
  ${GetParameters} $R0
  StrCpy $0 1
  ${Do}
    ; skip blanks
    ${DoWhile} $R0 != ""
      StrCpy $R1 $R0 1
      ${IfThen} $R1 != " " ${|} ${ExitDo} ${|}
      StrCpy $R0 $R0 "" 1
    ${Loop}
    ${IfThen} $R0 == "" ${|} ${ExitDo} ${|}
    ; /D= is read by NSIS itself and always comes last (it may hold blanks)
    StrCpy $R1 $R0 3
    ${IfThen} $R1 S== "/D=" ${|} ${ExitDo} ${|}
    ; cut the next token
    StrCpy $R2 0
    StrLen $R3 $R0
    ${DoWhile} $R2 < $R3
      StrCpy $R1 $R0 1 $R2
      ${IfThen} $R1 == " " ${|} ${ExitDo} ${|}
      IntOp $R2 $R2 + 1
    ${Loop}
    StrCpy $R1 $R0 $R2
    StrCpy $R0 $R0 "" $R2
    ; judge it
    StrCpy $R4 $R1 6
    StrCpy $R5 $R1 11
    ${If} $R1 S== "/S"
    ${OrIf} $R1 S== "/NCRC"
      ; read by NSIS itself
    ${ElseIf} $R4 == "/MODE="
      ; One of the modes, written as its number alone ("01" is none).
      StrCpy $R6 $0
      StrCpy $Option_MODE $R1 "" 6
      StrCpy $1 $Option_MODE
      Call IsDecimal
      ${If} $0 = 1
        ${If} $1 S!= $Option_MODE
        ${OrIf} $1 < ${OPTION_MODE_LEAST}
        ${OrIf} $1 > ${OPTION_MODE_MOST}
          StrCpy $0 0
        ${EndIf}
      ${EndIf}
      ${If} $R6 = 0
        StrCpy $0 0
      ${EndIf}
    ${ElseIf} $R5 == "/ALARMTIME="
      StrCpy $R6 $0
      StrCpy $1 $R1 "" 11
      Call IsDecimal
      ${If} $0 = 1
        StrCpy $Option_ALARMTIME $1
        ${If} $Option_ALARMTIME < ${OPTION_ALARMTIME_LEAST}
        ${OrIf} $Option_ALARMTIME > ${OPTION_ALARMTIME_MOST}
          StrCpy $0 0
        ${EndIf}
      ${EndIf}
      ${If} $R6 = 0
        StrCpy $0 0
      ${EndIf}
    ${Else}
      StrCpy $0 0
    ${EndIf}
  ${Loop}
FunctionEnd

!macro RefuseBadOptions
  Call ParseOptions
  ${If} $0 = 0
    MessageBox MB_OK|MB_ICONSTOP "Unknown or invalid option.$\r$\n$\r$\nUsage: KalnixSetup.exe [/S] [/MODE=${OPTION_MODE_LEAST}|${OPTION_MODE_MOST}] [/ALARMTIME=${OPTION_ALARMTIME_LEAST}..${OPTION_ALARMTIME_MOST}] [/D=folder]" /SD IDOK
    SetErrorLevel ${EXIT_BAD_OPTION}
    Quit
  ${EndIf}
!macroend

; The x86 setup program never installs on 64-bit Windows: a 32-bit Kalnix there would read
; Software\WOW6432Node\Kalnix, where Group Policy never writes. (Its uninstaller still
; removes an installation that exists.)
!macro RefuseWrongArchitecture
!if "${KALNIX_ARCH}" == "x86"
  ${If} ${RunningX64}
    MessageBox MB_OK|MB_ICONSTOP "This is the setup program for 32-bit Windows.$\r$\n$\r$\nOn 64-bit Windows, run KalnixSetup-x64.exe." /SD IDOK
    SetErrorLevel ${EXIT_WRONG_ARCH}
    Quit
  ${EndIf}
!endif
!macroend

!macro RefuseNonAdministrator text
  System::Call 'shell32::IsUserAnAdmin() i .r0'
  ${If} $0 = 0
    MessageBox MB_OK|MB_ICONSTOP "${text}" /SD IDOK
    SetErrorLevel ${EXIT_NOT_ADMIN}
    Quit
  ${EndIf}
!macroend
