// String-table identifiers of the certificate manager.
#pragma once

// Certificate descriptions in the manager's tree: algorithm, key length and
// whether the certificate signs or encrypts.
#define IDS_RSA1024_SIGN_CERT 116
#define IDS_RSA1024_ENCRYPT_CERT 117
#define IDS_RSA2048_SIGN_CERT 118
#define IDS_RSA2048_ENCRYPT_CERT 119
#define IDS_RSA4096_SIGN_CERT 120
#define IDS_RSA4096_ENCRYPT_CERT 121
#define IDS_SM2_SIGN_CERT 122
#define IDS_SM2_ENCRYPT_CERT 123

// The manager's windows and commands.
#define IDS_APP_TITLE 100               // the main dialog's title, looked up by a second start
#define IDS_OLD_PIN_LENGTH 108
#define IDS_NEW_PIN_LENGTH 109
#define IDS_PIN_MISMATCH 110
#define IDS_PIN_SAME_AS_OLD 111
#define IDS_SELECT_KEY 112              // a command without a selected token
#define IDS_PIN_MODIFIED 113
#define IDS_ORIGINAL_PIN_ERROR 114
#define IDS_MODIFY_USER_PIN 115         // button 1000 and the PIN change caption
#define IDS_TRAY_TIP 145                // the tray icon's tip and the exit caption
#define IDS_CONFIRM_EXIT 146
#define IDS_KEY_INSERTED 147            // balloon texts
#define IDS_KEY_REMOVED 148
#define IDS_BALLOON_TITLE 149
#define IDS_PIN_LOCKED_TEXT 151
#define IDS_PIN_ERROR 152
#define IDS_LEFT_TIMES 153
#define IDS_CONFIRM_INITIALIZE 155
#define IDS_INITIALIZE_KEY 156
#define IDS_INITIALIZE_SUCCESS 157
#define IDS_PIN_WEAK 159
#define IDS_NO_DEVICE 161               // the tree's root without tokens
#define IDS_DEVICES 162                 // the tree's root: "<n> Device(s)"
#define IDS_GET_PIN_INFO_FAILED 163
#define IDS_CHECK_ADMIN_PIN_FAILED 164
#define IDS_UNLOCK_FAILED 165
#define IDS_VERIFY_DEFAULT_PIN_FAILED 166
#define IDS_CLEAR_KEY_FAILED 167
#define IDS_MAIN_TITLE 168              // the same text as IDS_APP_TITLE
#define IDS_MANAGER_NAME 170
#define IDS_ADMIN_PIN_LOCKED 174
#define IDS_CONFIRM_UNLOCK 175
#define IDS_UNLOCK_USER_PIN 176
#define IDS_UNLOCK_SUCCESS 177
#define IDS_PIN_NOT_LOCKED 179
#define IDS_PIN_IS_DEFAULT 181
#define IDS_DEFAULT_ADMIN_PIN 182
#define IDS_DEVICE_NAME 300
#define IDS_DEVICE_VERSION 302
#define IDS_SOFTWARE_VERSION 303
#define IDS_DEVICE_INFO 304
#define IDS_KEY_NAME 305
#define IDS_DEFAULT_PIN_DETECTED 306    // caption of the start box for a never-changed PIN
#define IDS_DEFAULT_USER_PIN 307
#define IDS_CERT_EXPIRED 309            // "%d-%d-%d": year, month, day
#define IDS_CERT_EXPIRING 310
#define IDS_CERT_VALIDITY_CHECK 311     // caption of the two expiry boxes
