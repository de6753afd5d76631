// Resource ids of the device layer's dialogs, strings and picture. Included
// by the code and by the .rc files, so it holds #define lines only.
#pragma once

// Dialog templates
#define IDD_SELECT_KEY 201           // token selection
#define IDD_OPERATION_CONFIRM 202    // a PIN operation waits for the token's button
#define IDD_INPUT_PIN 203            // PIN entry
#define IDD_TRANSACTION_CONFIRM 227  // the token shows a transaction, with its picture

// Strings
#define IDS_INPUT_PIN 204             // prompt: user PIN
#define IDS_PIN_RETRY 205             // prompt: again after a wrong PIN
#define IDS_REMAINING_TIMES 207       // first part of the remaining-tries line
#define IDS_ERROR_CAPTION 209         // message box caption "Error"
#define IDS_PIN_LOCKED 210            // the user PIN is locked
#define IDS_INPUT_ADMIN_PIN 212       // prompt: administrator PIN
#define IDS_CHECK_ADMIN_PIN 213       // PIN dialog title for the administrator PIN
#define IDS_TRANSACTION_TIPS 214      // transaction dialog text
#define IDS_OPERATION_CONFIRM 215     // operation dialog text, after the tries
#define IDS_TAKE_CAUTION 216          // operation dialog text, after the tries
#define IDS_DEFAULT_PIN_CAPTION 219   // caption of the never-changed PIN warning
#define IDS_DEFAULT_PIN_WARNING 220   // the never-changed PIN warning
#define IDS_TRIES_FORMAT 221          // PIN dialog: remaining-tries text, the tries
#define IDS_OPERATION_TIPS_FORMAT 222 // operation dialog: 207, the tries, 216, 215
#define IDS_CONFIRM_HEADING 223       // the heading line of 214 and 215, drawn centred

// Pictures (type "PNG")
#define IDR_TOKEN_PNG 229  // the token with its display and OK and C keys

// Controls
#define IDC_PIN_EDIT 2002
#define IDC_PIN_PROMPT 2003
#define IDC_PIN_TRIES 2005
#define IDC_SELECT_OK 2006
#define IDC_SELECT_CANCEL 2007
#define IDC_KEY_LIST 2008
#define IDC_PIN_OK 2009
#define IDC_PIN_CANCEL 2010
#define IDC_TOKEN_PICTURE 2012
#define IDC_CONFIRM_TEXT 217
