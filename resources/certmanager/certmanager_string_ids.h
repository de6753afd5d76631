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
