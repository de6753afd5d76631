// The entry points of the public token API gathered in one versioned table.
//
//   TOKEN_FUNCTION_LIST* list = nullptr;
//   GetTokenFunctionList(&list);
//   if (list->pGetChipSN != nullptr) list->pGetChipSN(pDevCtx, sn, &snLen);
//
// Slots 15, 19 and 55 stay empty. ResetDevice, ImportKeyPairEx,
// AdjustClock, SendAPDUCommand and DispImportCert have no slot: they are
// reached by direct call only.
#pragma once

#include <cstddef>

#include "foundation/platform.h"
#include "foundation/container_record.h"
#include "tokenapi/commands/device_commands.h"
#include "tokenapi/crypto/contexts/handles.h"
#include "tokenapi/transport/device_ctx.h"

constexpr BYTE MR_FUNCTION_LIST_MAJOR = 1;
constexpr BYTE MR_FUNCTION_LIST_MINOR = 0;
constexpr size_t MR_FUNCTION_LIST_SLOTS = 62;

struct TOKEN_FUNCTION_VERSION {
  BYTE major;
  BYTE minor;
};

// The type of an empty slot.
using MR_EMPTY_SLOT = void (*)();

struct TOKEN_FUNCTION_LIST {
  TOKEN_FUNCTION_VERSION version;
  HRESULT (*pEnumDevice)(BYTE*, DWORD*);                                              // 0
  HRESULT (*pOpenDevice)(const char*, DEV_CTX**);                                     // 1
  HRESULT (*pCloseDevice)(DEV_CTX*);                                                  // 2
  HRESULT (*pEnumContainer)(DEV_CTX*, CONTAINER_RECORD*, DWORD*);                     // 3
  HRESULT (*pCreateContainer)(DEV_CTX*, CONTAINER_RECORD*);                           // 4
  HRESULT (*pDeleteContainer)(DEV_CTX*, const char*, DWORD);                          // 5
  HRESULT (*pReadContainer)(DEV_CTX*, CONTAINER_RECORD*);                             // 6
  HRESULT (*pWriteContainer)(DEV_CTX*, const CONTAINER_RECORD*);                      // 7
  HRESULT (*pEnableContainer)(DEV_CTX*, const char*, DWORD);                          // 8
  HRESULT (*pVerifyPIN)(DEV_CTX*, BYTE, const BYTE*, BYTE);                           // 9
  HRESULT (*pChangePIN)(DEV_CTX*, BYTE, const BYTE*, BYTE, const BYTE*, BYTE);        // 10
  HRESULT (*pUnlockPIN)(DEV_CTX*, BYTE, const BYTE*, BYTE, const BYTE*, BYTE);        // 11
  HRESULT (*pGetPINStatus)(DEV_CTX*, BYTE, BYTE*, BYTE*, BYTE*);                      // 12
  HRESULT (*pExternalAuth)(DEV_CTX*, BYTE);                                           // 13
  HRESULT (*pSetSessionKey)(DEV_CTX*);                                                // 14
  MR_EMPTY_SLOT pEmpty15;                                                             // 15
  HRESULT (*pGenerateRandom)(DEV_CTX*, BYTE, BYTE, BYTE*);                            // 16
  HRESULT (*pGenerateKeyPair)(DEV_CTX*, BYTE, WORD, void*);                           // 17
  HRESULT (*pImportKeyPair)(DEV_CTX*, BYTE, WORD, const BYTE*, DWORD, const BYTE*);   // 18
  MR_EMPTY_SLOT pEmpty19;                                                             // 19
  HRESULT (*pExportPublicKey)(DEV_CTX*, BYTE, WORD, void*);                           // 20
  HRESULT (*pImportCert)(DEV_CTX*, WORD, const BYTE*, DWORD);                         // 21
  HRESULT (*pExportCert)(DEV_CTX*, WORD, BYTE*, DWORD*);                              // 22
  HRESULT (*pAsymKeyInit)(DEV_CTX*, BYTE, WORD, void**);                              // 23
  HRESULT (*pAsymKeyFinal)(void*);                                                    // 24
  HRESULT (*pSignXML)(void*, BYTE, const BYTE*, DWORD, BYTE*, DWORD*);                // 25
  HRESULT (*pDigestInit)(void*, BYTE);                                                // 26
  HRESULT (*pDigestUpdate)(void*, const BYTE*, DWORD);                                // 27
  HRESULT (*pDigestFinal)(void*, BYTE*, DWORD*);                                      // 28
  HRESULT (*pSignDataResult)(void*, BYTE*, DWORD*);                                   // 29
  HRESULT (*pSignDigest)(void*, const BYTE*, DWORD, BYTE*, DWORD*);                   // 30
  HRESULT (*pPrikeyDec)(void*, const BYTE*, DWORD, BYTE*, DWORD*);                    // 31
  HRESULT (*pHWSymKeyCrypto)(DEV_CTX*, BYTE, BYTE, const BYTE*, const BYTE*, DWORD, BYTE*,
                             DWORD*);                                                 // 32
  HRESULT (*pVerifySignature)(void*, BYTE, const BYTE*, DWORD, const BYTE*, DWORD);   // 33
  HRESULT (*pPubkeyEnc)(void*, const BYTE*, DWORD, BYTE*, DWORD*);                    // 34
  HRESULT (*pHashInit)(DEV_CTX*, BYTE, HASH_HANDLE**);                                // 35
  HRESULT (*pHashUpdate)(HASH_HANDLE*, const BYTE*, DWORD);                           // 36
  HRESULT (*pHashFinal)(HASH_HANDLE*, BYTE*, DWORD*);                                 // 37
  HRESULT (*pSymKeyInit)(DEV_CTX*, BYTE, BYTE, BYTE, const BYTE*, const BYTE*,
                         SYMKEY_HANDLE**);                                            // 38
  HRESULT (*pSymKeyUpdate)(SYMKEY_HANDLE*, const BYTE*, DWORD, BYTE*, DWORD*);        // 39
  HRESULT (*pSymKeyFinal)(SYMKEY_HANDLE*, BYTE*, DWORD*);                             // 40
  HRESULT (*pEraseMF)(DEV_CTX*);                                                      // 41
  HRESULT (*pEraseCOS)(DEV_CTX*);                                                     // 42
  HRESULT (*pInitTokenFile)(DEV_CTX*);                                                // 43
  HRESULT (*pGetChipSN)(DEV_CTX*, BYTE*, DWORD*);                                     // 44
  HRESULT (*pGetDeviceInfo)(DEV_CTX*, DEVICE_INFO*);                                  // 45
  HRESULT (*pSetTokenName)(DEV_CTX*, const BYTE*, DWORD);                             // 46
  HRESULT (*pGetTokenName)(DEV_CTX*, BYTE*, DWORD*);                                  // 47
  HRESULT (*pSetTokenSN)(DEV_CTX*, const BYTE*, DWORD);                               // 48
  HRESULT (*pGetTokenSN)(DEV_CTX*, BYTE*, DWORD*);                                    // 49
  HRESULT (*pSetDevLabel)(DEV_CTX*, const BYTE*, DWORD);                              // 50
  HRESULT (*pGetDevLabel)(DEV_CTX*, BYTE*, DWORD*);                                   // 51
  HRESULT (*pWriteFlash)(DEV_CTX*, WORD, const BYTE*, DWORD);                         // 52
  HRESULT (*pReadFlash)(DEV_CTX*, WORD, BYTE*, DWORD);                                // 53
  HRESULT (*pEraseFlash)(DEV_CTX*);                                                   // 54
  MR_EMPTY_SLOT pEmpty55;                                                             // 55
  HRESULT (*pSelectFile)(DEV_CTX*, BYTE, WORD, BYTE*);                                // 56
  HRESULT (*pCreateCosFile)(DEV_CTX*, const BYTE*);                                   // 57
  HRESULT (*pWriteCosFile)(DEV_CTX*, WORD, const BYTE*, DWORD);                       // 58
  HRESULT (*pReadCosFile)(DEV_CTX*, WORD, BYTE*, DWORD*);                             // 59
  HRESULT (*pEraseCosFile)(DEV_CTX*, BYTE, WORD);                                     // 60
  HRESULT (*pDeleteCosFile)(DEV_CTX*, BYTE, WORD);                                    // 61
};

// Every slot is one pointer wide and the 62 follow each other without gaps.
static_assert(offsetof(TOKEN_FUNCTION_LIST, pDeleteCosFile) ==
                  offsetof(TOKEN_FUNCTION_LIST, pEnumDevice) +
                      (MR_FUNCTION_LIST_SLOTS - 1) * sizeof(void*),
              "62 slots of one pointer each");

// Fills the one static table (version 1.0 and the 59 entry points) and
// stores its address in *ppFunctionList. Every call writes the same values
// and hands out the same table. A null ppFunctionList: 0x80070001, nothing
// written.
HRESULT GetTokenFunctionList(TOKEN_FUNCTION_LIST** ppFunctionList);
