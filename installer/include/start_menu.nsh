; The Start menu entry "Kalnix", for every user ($SMPROGRAMS with SetShellVarContext all): it
; starts Kalnix.exe, which where the protection service runs is the icon of the user's session
; (one already there keeps it, and the second ends at once).

!define START_MENU_ENTRY "$SMPROGRAMS\Kalnix.lnk"

Function CreateStartMenuEntry
  SetOutPath "$INSTDIR"
  ClearErrors
  CreateShortcut "${START_MENU_ENTRY}" "$INSTDIR\Kalnix.exe" "" "$INSTDIR\Kalnix.exe" 0 SW_SHOWNORMAL "" "Shows whether Kalnix protects this laptop"
  ${If} ${Errors}
    ${Log} "Start menu entry Kalnix not created: could not write ${START_MENU_ENTRY}."
    Call Warn
  ${Else}
    ${Log} "Start menu entry Kalnix created for every user."
  ${EndIf}
FunctionEnd

Function un.RemoveStartMenuEntry
  Delete "${START_MENU_ENTRY}"
  ${If} ${FileExists} "${START_MENU_ENTRY}"
    ${Log} "Start menu entry Kalnix could not be removed."
    Call un.Warn
  ${Else}
    ${Log} "Start menu entry Kalnix removed."
  ${EndIf}
FunctionEnd
