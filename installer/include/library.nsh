; KalnixCA.dll, the tested helper library that does the setup program's Win32 work. Its
; exports take wide strings and return a one-byte bool; on x86 they are resolved by their
; decorated stdcall names (_Name@<argument bytes>).

Var CaDll          ; KalnixCA.dll extracted to $PLUGINSDIR
Var CaLogPath      ; where the library logs: "" until the secured log folder is ready

!macro ExtractCa
  InitPluginsDir
  SetOutPath "$PLUGINSDIR"
  File "/oname=KalnixCA.dll" "${KALNIX_CA}"
  StrCpy $CaDll "$PLUGINSDIR\KalnixCA.dll"
!macroend

; $0 = the export's one-byte result (the rest of the register is undefined). The library is
; unloaded after every call (?u), so that $PLUGINSDIR can be removed at the end; it is told
; its log path first, in the same load (the System plug-in loads a library only once).
!macro CallCaExport name argumentBytes types
!if "${KALNIX_ARCH}" == "x86"
  !define /redef CA_SYMBOL "_${name}@${argumentBytes}"
  !define /redef CA_LOG_SYMBOL "_SetLogPath@4"
!else
  !define /redef CA_SYMBOL "${name}"
  !define /redef CA_LOG_SYMBOL "SetLogPath"
!endif
  System::Call '$CaDll::${CA_LOG_SYMBOL}(w "$CaLogPath")'
  System::Call '$CaDll::${CA_SYMBOL}(${types}) i .r0 ?u'
  !undef CA_SYMBOL
  !undef CA_LOG_SYMBOL
  IntOp $0 $0 & 0xFF
!macroend

!macro CallCa name
  !insertmacro CallCaExport ${name} 0 ""
!macroend
!define CallCa "!insertmacro CallCa"

; The texts go through $1 and $2: quotation marks inside them would end the System plugin's own.
!macro CallCaWithText name text
  StrCpy $1 `${text}`
  !insertmacro CallCaExport ${name} 4 "w r1"
!macroend
!define CallCaWithText "!insertmacro CallCaWithText"

!macro CallCaWithTexts name first second
  StrCpy $1 `${first}`
  StrCpy $2 `${second}`
  !insertmacro CallCaExport ${name} 8 "w r1, w r2"
!macroend
!define CallCaWithTexts "!insertmacro CallCaWithTexts"
