#pragma once

// Resource identifiers of Kalnix.exe.
// Icons (scripts/make-art.py): 16, 20, 24, 32, 40, 48 and 64 px at 32 bpp, the sizes the
// notification area asks for from 100 to 400 % display scale; the application's also 256 px.
#define IDI_KALNIX            108   // application and window class icon
#define IDI_TRAY_ENABLED      109   // tray icons for a dark taskbar, Windows' default
#define IDI_TRAY_DISABLED     111
#define IDI_TRAY_ENABLED_LIGHT     201   // for a light taskbar
#define IDI_TRAY_DISABLED_LIGHT    202
#define IDI_TRAY_ENABLED_CONTRAST  203   // for high contrast: black and white only
#define IDI_TRAY_DISABLED_CONTRAST 204
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
#define IDC_ALARM_SECONDS_UNIT 1018
// The notes beside settings Group Policy sets, added at run time where the templates leave room
#define IDC_MANAGED_NOTE      400

// Tray menu: built in code where it is shown; its commands come back as WM_COMMAND.
#define IDM_STATUS            301
#define IDM_SETTINGS          302
#define IDM_MORE_SETTINGS     303
#define IDM_OPEN_LOG          304
#define IDM_EXIT              305
#define IDM_DISABLED_STATE    306   // grayed: what applies to a user who is not an administrator

// More settings dialog
#define IDD_MORE_SETTINGS     300
#define IDC_REST_AFTER_ON     310
#define IDC_REST_AFTER        311
#define IDC_HIBERNATE_AFTER_ON 312
#define IDC_HIBERNATE_AFTER   313
#define IDC_DRAIN_ALERT_ON    314
#define IDC_DRAIN_ALERT       315
#define IDC_ALARM_WITH_EXTERNAL 316
#define IDC_ENABLE_LOGGING    317
#define IDC_CLOSURES          319   // the record: a list view with three columns
#define IDC_REST_AFTER_UNIT   320
#define IDC_HIBERNATE_AFTER_UNIT 321
#define IDC_DRAIN_ALERT_UNIT  322
#define IDC_CLOSURES_LABEL    323
#define IDC_WAKE_TIMERS_OFF   324
#define IDC_MAINTENANCE_WAKE_OFF 325
#define IDC_WAKE_LIST_LABEL   326
#define IDC_WAKE_LIST         327   // what may wake the closed laptop: a list view with two columns
#define IDC_WAKE_KEEP_OFF     328
#define IDC_WAKE_PUT_BACK     329
