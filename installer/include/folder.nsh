; The install folder and its security. Kalnix.exe runs as the protection service (SYSTEM),
; so nothing a standard user can create, change, rename or delete may lie on its path. KalnixCA.dll checks
; the folder and every folder above it by handle before anything is written; Program Files
; keeps users out by its own permissions, any other folder gets permissions of its own.

Var FolderNote     ; what was done to the install folder, logged once the log is open

; $0 = 1 when the library accepts `folder`; else $3 names the folder refused and says why.
; `export` is SecureInstallFolder or CheckInstallFolder (the folder, room for the reason, its size).
!macro CallInstallFolderExport export folder
  StrCpy $1 `${folder}`
  StrCpy $3 ""
  !insertmacro CallCaExport ${export} 12 "w r1, w .r3, i ${NSIS_MAX_STRLEN}"
!macroend

; $0 = 1 when $2 is the folder $1 or lies inside it: whole path components, any case.
Function IsInFolder
  Push $3
  Push $4
  StrCpy $0 0
  StrLen $3 $1
  StrCpy $4 $2 $3
  ${If} $4 == $1
    StrCpy $4 $2 1 $3
    ${If} $4 == ""
    ${OrIf} $4 == "\"
      StrCpy $0 1
    ${EndIf}
  ${EndIf}
  Pop $4
  Pop $3
FunctionEnd

; The full path of $INSTDIR, without "." or ".." or forward slashes: /D= may hold them.
Function NormalizeInstDir
  Push $0
  Push $1
  System::Call 'kernel32::GetFullPathNameW(w "$INSTDIR", i ${NSIS_MAX_STRLEN}, w .r1, p 0) i .r0'
  ${If} $0 > 0
  ${AndIf} $0 < ${NSIS_MAX_STRLEN}
    StrCpy $INSTDIR $1
  ${EndIf}
  Pop $1
  Pop $0
FunctionEnd

Function PrepareInstallFolder
!if "${KALNIX_ARCH}" == "x64"
  StrCpy $1 $PROGRAMFILES64
!else
  StrCpy $1 $PROGRAMFILES
!endif
  StrCpy $2 $INSTDIR
  Call IsInFolder
  ${If} $0 = 1
  ${AndIf} $INSTDIR != $1
    !insertmacro CallInstallFolderExport CheckInstallFolder "$INSTDIR"
    ${If} $0 <> 1
      ${FailUnsafeFolder} "Install folder $INSTDIR refused: $3."
    ${EndIf}
    ClearErrors
    CreateDirectory "$INSTDIR"
    ${If} ${Errors}
      ${FailInstall} "Could not create $INSTDIR."
    ${EndIf}
    StrCpy $FolderNote "Install folder in Program Files: its inherited permissions are kept."
    Return
  ${EndIf}

  ; Folders whose permissions belong to the system: replacing them would break Windows or
  ; other programs, and their contents would inherit them.
  StrCpy $3 $INSTDIR 1 1
  StrCpy $4 $INSTDIR 1 2
  StrLen $5 $INSTDIR
  ${If} $3 != ":"
  ${OrIf} $4 != "\"
    ${FailUnsafeFolder} "Install folder $INSTDIR is not on a drive of this computer: setup does not set its permissions."
  ${EndIf}
  ${If} $5 <= 3
  ${OrIf} $INSTDIR == $PROGRAMFILES32
  ${OrIf} $INSTDIR == $PROGRAMFILES64
    ${FailUnsafeFolder} "Install folder $INSTDIR is a system folder: setup does not change its permissions."
  ${EndIf}
  StrCpy $1 $WINDIR
  Call IsInFolder
  ${If} $0 = 1
    ${FailUnsafeFolder} "Install folder $INSTDIR is in the Windows folder: setup does not change its permissions."
  ${EndIf}

  StrCpy $5 "new"
  ${If} ${FileExists} "$INSTDIR\*.*"
    StrCpy $5 "existing"
  ${EndIf}
  ; The library creates what is missing administrators-only, and takes an existing folder only
  ; when it is already closed to users and holds nothing but Kalnix's own files.
  !insertmacro CallInstallFolderExport SecureInstallFolder "$INSTDIR"
  ${If} $0 <> 1
    ${FailUnsafeFolder} "Install folder $INSTDIR refused: $3."
  ${EndIf}
  StrCpy $FolderNote "Install folder outside Program Files ($5): permissions set: inheritance removed; Administrators and SYSTEM full control; Users read and execute."
FunctionEnd
