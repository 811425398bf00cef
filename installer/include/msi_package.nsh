; Kalnix installed from its Windows Installer package (KalnixSetup-<arch>.msi): one installation
; only, and the package's belongs to the Windows Installer, which alone can remove or replace it
; (a deployment tool would also find its product code again and reinstall it). The setup program
; leaves it as it is: exit code 8, before anything is written.

Function RefuseOverMsiPackage
  StrCpy $1 "${MSI_UPGRADE_CODE}"
  StrCpy $3 ""
  !insertmacro CallCaExport MsiPackageInstalled 12 "w r1, w .r3, i 39"
  ${If} $0 = 1
    !insertmacro LeaveFailed "Kalnix is installed from its Windows Installer package (product code $3): this setup program does not install over it. Remove it first (msiexec /x $3), or deploy a newer KalnixSetup-${KALNIX_ARCH}.msi." "Installation failed: nothing was installed." ${EXIT_MSI_INSTALLED}
  ${EndIf}
FunctionEnd
