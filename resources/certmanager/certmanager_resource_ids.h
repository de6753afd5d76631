// Resource ids of the certificate manager's windows: dialogs, controls,
// menu, icon, tree images and logo. Included by the code and by the .rc
// files, so it holds #define lines only. The strings are in
// certmanager_string_ids.h.
#pragma once

// Dialog templates
#define IDD_ABOUT 101
#define IDD_MAIN 102                 // the main dialog with the certificate tree
#define IDD_MODIFY_PIN 103
#define IDD_TRAY 140                 // the invisible owner of the tray icon
#define IDD_HELP 185
#define IDD_MODIFY_DEV_NAME 200

// The icon of the program, its windows and its tray entry
#define IDI_MANAGER 100

// Tree images, 24 x 24
#define IDB_TREE_TOKEN 137
#define IDB_TREE_RSA_CERT 138
#define IDB_TREE_SM2_CERT 139
#define IDB_TREE_ROOT 152

// The logo of the main dialog (type "PNG")
#define IDR_LOGO_PNG 201

// The tray menu and its commands
#define IDR_TRAY_MENU 144
#define ID_TRAY_EXIT 142
#define ID_TRAY_OPEN_MAIN 143

// Controls of the main dialog
#define IDC_CERT_TREE 104
#define IDC_MODIFY_PIN 1000
#define IDC_VIEW_CERT 1001
#define IDC_ABOUT 1002
#define IDC_REFRESH 1003
#define IDC_INITIALIZE 1004          // hidden: reached only by a sent command
#define IDC_UNLOCK_PIN 1005          // hidden: reached only by a sent command
#define IDC_VIEW_DEV 1007
#define IDC_MOD_DEV_NAME 1008
#define IDC_HELP_BUTTON 1010
#define IDC_LOGO 1018
