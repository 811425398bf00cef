#pragma once

// Resource identifiers of Kalnix.exe.
#define IDI_KALNIX            108   // window class icon: 48, 32, 16 px at 8 and 24 bpp
#define IDI_TRAY_ENABLED      109   // 16 px at 4, 8, 24, 32 bpp
#define IDI_TRAY_DISABLED     111
#define IDD_STATUS            106
#define IDR_LOGO              110   // type "Logo"
#define IDD_SETTINGS          112

// Status dialog
#define IDC_WEBSITE_LINK      1004
// The link shows KALNIX_WEBSITE_HOST, a host name as an 8-bit string literal defined by the
// build (from the CMake option of the same name) for this script and the code alike, and
// opens https://host/.
#define IDC_CONFIGURE_LINK    1017
// Settings dialog
#define IDC_AUTO_PROTECT      1013
#define IDC_LID_ALARM         1014
#define IDC_ALARM_SECONDS     1016
// Added at run time to a dialog with settings set by Group Policy (not in any template)
#define IDC_MANAGED_NOTE      400
