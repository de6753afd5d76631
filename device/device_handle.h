// DeviceHandle: the one device object of a process. It keeps every inserted
// token with its open context, every container on those tokens, the token
// the user selected, the PINs kept for a while, a copy of the token layer's
// settings and three named kernel objects shared with other processes.
//
// Token contexts are owned by count (dev_ctx_lease.h): the device list holds
// one reference to each, borrowers hold leases, and a refresh drops only the
// list's references. Look tokens up by device name each time (ResolveDevice,
// ResolveContainer, LendDevCtx), never through a stored list index.
//
// The operations live in one file per job: device_handle.cpp (lifecycle),
// device_lists_update.cpp (refreshes), device_select.cpp (selection),
// device_lookup.cpp (look-ups and leases); the later groups in theirs.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <map>
#include <string>
#include <vector>

#include "device/dev_ctx_lease.h"
#include "device/device_item.h"
#include "device/provider_settings.h"
#include "device/user_pin_context.h"
#include "tokenapi/api/device_api.h"

struct RSA_KEY;
struct SYMKEY_HANDLE;

namespace merro::device {

class DeviceHandle {
 public:
  // The tick count the kept-PIN windows are measured with.
  using TickSource = ULONGLONG (*)();
  // One piece of random data: the token API's GenerateRandom.
  using RandomSource = HRESULT (*)(DEV_CTX* pDevCtx, BYTE nFlag, BYTE nRandlen, BYTE* pRandom);
  static constexpr DWORD kUpdateWaitMs = 15000;  // the device-update mutex wait

  DeviceHandle();
  // Closes what is still open: the list's token contexts (a borrower's lease
  // closes its own later), the container records, the kept PINs and the
  // three kernel-object handles.
  virtual ~DeviceHandle();
  DeviceHandle(const DeviceHandle&) = delete;
  DeviceHandle& operator=(const DeviceHandle&) = delete;

  // ---- lifecycle (device_handle.cpp) ----
  // S_OK; 0x800704DF when already initialised (nothing is created or
  // changed); 0x80070057 for a provider name that is null, empty or longer
  // than 53 characters (the event names must fit in 64); the folded error
  // of the mutex creation; 0x80004005 when the enumeration fails;
  // 0x8009000E or 0x8007000E when memory runs out.
  HRESULT Initialize(const ProviderSettings& stSettings);
  // Forgets the kept PINs, resets and releases every token, empties the
  // lists and closes the kernel objects. 0x80004005 when not initialised.
  HRESULT UnInitialize();

  // ---- device and container lists (device_lists_update.cpp) ----
  // Rebuilds the device list under the device-update mutex; the selection
  // is re-pointed to m_szCurrentDeviceName's new item (or -1 and null when
  // that token is gone); the container list is not touched.
  HRESULT UpdateDevice();
  // UpdateDevice, then rebuilds the container list.
  HRESULT UpdateContainer();
  // UpdateDevice; S_OK when a token is inserted, else 0x8009000D.
  HRESULT CheckKeyInsert();
  // Opens each token of an EnumDevice list and appends a DeviceItem for each
  // one that opened, with its label.
  HRESULT ParseDeviceNameAndPush(const char* pszDeviceName, DWORD dwDeviceNameSize);

  // ---- selection (device_select.cpp) ----
  // The only token, or the one the user picks (asked each call);
  // 0x8010006E when the user cancels, the selection then unchanged.
  HRESULT SelectDevice();

  // ---- look-ups (device_lookup.cpp) ----
  // Exact, case-sensitive names; the first match in list order; 0x8009000D
  // when not found, 0x80070057 for a null name.
  HRESULT CheckDeviceExist(const char* pszDevName, DWORD* pdwIndex = nullptr);
  HRESULT CheckContainerExist(const char* pszDevName, const char* pszContainerName,
                              DWORD* pdwIndex = nullptr);
  // Whether any token holds the container; its device name in a new buffer
  // (delete[]) when ppszDevName is given.
  HRESULT CheckContainerExist(const char* pszContainerName, char** ppszDevName = nullptr);
  HRESULT GetDevCtx(const char* pszDevName, DEV_CTX** ppDevCtx);
  // A copy of the item; the record is shared with the list's item.
  HRESULT GetContainerInfo(const char* pszDevName, const char* pszContainerName,
                           ContainerItem* pstContainerItem);
  // The token's position in the device list and its current context.
  HRESULT ResolveDevice(const char* pszDevName, DWORD* pdwIndex, DEV_CTX** ppDevCtx);
  // The container's item and the current context of the token that holds
  // it, found by the item's device name (0x8009000D when that token is no
  // longer listed). Both stay valid until the next refresh.
  HRESULT ResolveContainer(const char* pszDevName, const char* pszContainerName,
                           ContainerItem** ppItem, DEV_CTX** ppDevCtx);
  // A lease on the token's current context, for a borrower that keeps it
  // across calls.
  HRESULT LendDevCtx(const char* pszDevName, DevCtxLease* pLease);

  // ---- containers on the token (container_create.cpp, user_pin_prompt.cpp,
  // container_delete.cpp, container_records.cpp) ----
  // Creates the container (a name of at most 63 bytes) on the token the
  // user selects, once the user PIN was verified there: typed, or the
  // factory PIN (tried once) under the bank's rules with the flag file. The
  // token's device name in a new buffer (delete[]). 0x8010006E when the
  // user or the token's C cancelled, 0x8010000A on the token's time-out,
  // 0x8010006C with no tries left, 0x8009000F when any token holds the name.
  HRESULT MerroCreateContainer(const char* pszContainerName, char** ppszDevName);
  // The typed user PIN in a new zero-terminated buffer, which the caller
  // wipes and frees with delete[]; with no tries left the "locked" box and
  // 0x8010006C; 0x8010006E when no PIN was typed.
  HRESULT GetUserPIN(int nLeftTimes, char** ppszPIN);
  // Deletion needs the user PIN verified in the token's current session.
  // The lists keep the containers until the next refresh.
  HRESULT MerroDeleteContainer(const char* pszDevName, const char* pszContainerName);
  HRESULT DeleteAllContainer(const char* pszDevName);
  // Records the key type and length code of a 256-, 1024- or 2048-bit key
  // in the container's record, on the token and in the list's copy.
  HRESULT InitializeContainer(const char* pszDevName, const char* pszContainerName,
                              DWORD dwKeySpec, DWORD dwBitsLength);
  // From the list's copy of the record: the key-set algorithm and the key
  // sizes (0 bits where the record names no key).
  HRESULT GetContainerInfo(const char* pszDevName, const char* pszContainerName,
                           DWORD* pdwKeyAlg, DWORD* pdwSignKeyBitsSize,
                           DWORD* pdwExchKeyBitsSize = nullptr);
  HRESULT GetKeyLength(const char* pszDevName, const char* pszContainerName, DWORD dwKeySpec,
                       DWORD* pdwKeyBits);
  HRESULT IsContainerEmpty(const char* pszDevName, const char* pszContainerName, BOOL* pbEmpty);

  // ---- kept-PIN cache (kept_pin.cpp) and the default-PIN check ----
  // Keeps the PIN the token accepted, protected with the user's
  // data-protection key, replacing the device's entry; both windows start
  // now. 0x80070057 for a null name or PIN or a length of 0.
  HRESULT KeepUserPIN(const char* pszDeviceName, const BYTE* pbyUserPIN, DWORD dwPinLength);
  // The kept PIN in a new buffer (array new, no terminator) when the device
  // has a usable one; each use moves the long window on. The caller wipes
  // it (merro::SecureWipe) and calls delete[]. 0x80070490 when nothing is
  // kept, 0x80004005 when it expired; every failure past the name check
  // drops the entry.
  HRESULT GetKeptUserPIN(const char* pszDeviceName, BYTE** ppbyUserPIN, DWORD* pdwPINLength);
  // Usable: less than m_dwKeepPINTimeout ms since its last use, or less
  // than 30000 ms since it was kept.
  BOOL HaveKeptPIN(const char* pszDeviceName);
  // Whether the settings keep PINs at all (m_dwKeepPINTimeout not 0).
  BOOL IsKeepPIN();
  void ClearKeptPIN(const char* pszDeviceName);
  // With dwModified 0 (the factory user PIN) and settings that forbid it:
  // the warning box, then 0x8010006A. S_OK otherwise.
  HRESULT CheckDefaultPINStat(DWORD dwModified);

  // ---- token name and version (token_info.cpp), random data
  // (random_data.cpp), symmetric contexts (symmetric_contexts.cpp) ----
  // Each finds its token by name: 0x80090016 when it is not listed. Buffers
  // handed out are new (array new); the caller frees them.
  HRESULT GetDeviceTokenInfo(const char* pszDevName, char** ppszDeviceToken);
  HRESULT SetDeviceTokenInfo(const char* pszDevName, const char* pszDeviceToken);
  // The version bytes in a buffer of kCosVersionSize bytes, zero-padded.
  static constexpr DWORD kCosVersionSize = MR_COS_VERSION_BUFFER_LEN;
  HRESULT GetDeviceCosVer(const char* pszDevName, char** ppszDeviceCosVer);
  // Fills nRandomSize bytes from the host's generator (nFlag is not
  // examined), in pieces the token API accepts. On failure the buffer is
  // wiped and the result is 0x80004005.
  HRESULT GenerateRandomData(const char* pszDevName, int nFlag, int nRandomSize,
                             BYTE* pbyRandomBuffer);
  // CALG_DES, CALG_3DES or CALG_RC4; CRYPT_MODE_CBC or CRYPT_MODE_ECB (any
  // mode for RC4). The key must hold the bytes the algorithm reads (8, 24,
  // 16) and an IV, when given, 8 bytes: 0x80070057 otherwise.
  HRESULT SymKeyHandleInit(const char* pszDevName, DWORD dwAlg, int nCryptType, DWORD dwMode,
                           const BYTE* pbyKey, DWORD dwKeyLen, const BYTE* pbyIV, DWORD dwIVLen,
                           SYMKEY_HANDLE** ppKeyCtx);
  // At most 0xFFFFFFBF input bytes; the output buffer has 64 bytes of room
  // beyond them, the length is what the cipher wrote.
  HRESULT SymKeyHandleUpdate(SYMKEY_HANDLE* pKeyCtx, const BYTE* pbyInData, DWORD dwInDataSize,
                             BYTE** ppbyOutData, DWORD* pdwOutDataSize);
  // Ends the context on every path, whatever the result: it must not be
  // used again.
  HRESULT SymKeyHandleFinal(SYMKEY_HANDLE* pKeyCtx, BYTE** ppbyOutData, DWORD* pdwOutDataSize);

  // ---- certificates and public keys ----
  HRESULT ExportCertificate(const char* pszDevName, const char* pszContainerName, DWORD dwKeySpec,
                            BYTE** ppbyCertData, DWORD* pdwCertDataSize);
  HRESULT ImportCertificate(const char* pszDevName, const char* pszContainerName, DWORD dwKeySpec,
                            const BYTE* pbyDERCert, DWORD dwDERCertSize);
  HRESULT ExportPubKey(const char* pszDevName, const char* pszContainerName, DWORD dwKeySpec,
                       BYTE** ppbyPubKeyXorN, DWORD* pdwPubKeyXorNSize, BYTE** ppbyPubKeyYorE,
                       DWORD* pdwPubKeyYorESize);
  HRESULT ExportPubKey(const char* pszDevName, const char* pszContainerName, DWORD dwKeySpec,
                       DWORD* pdwKeySetAlg, BYTE** ppbyPubKey, DWORD* pdwPubKeySize);

  // ---- signing ----
  // The key context of a hash the token computes; the lease keeps the
  // token's context for the hash, which checks IsCurrent() before each
  // command it sends.
  HRESULT InitDigestKeyCtx(const char* pszDevName, const char* pszContainerName,
                           DevCtxLease* pLease, void** ppKeyCtx);
  // Gives back what InitDigestKeyCtx handed out: the key context
  // (AsymKeyFinal), then the lease, so the token closes once a refresh has
  // retired its context. Static: a hash may outlive the device object.
  // Either may be null; the result of AsymKeyFinal, folded.
  static HRESULT ReleaseDigestKeyCtx(DevCtxLease* pLease, void* pKeyCtx);
  HRESULT SignXMLMsg(const char* pszDevName, const char* pszContainerName, DWORD dwKeySpec,
                     ALG_ID uHashAlg, const BYTE* pbySourceData, DWORD dwSourceDataSize,
                     BYTE** ppbySignatureValue, DWORD* pdwSignatureValueSize);
  HRESULT SignData(const char* pszDevName, const char* pszContainerName, DWORD dwKeySpec,
                   void* pKeyCtx, BYTE** ppbySignatureValue, DWORD* pdwSignatureValueSize);
  // The token's SM3 digest over data the host kept, in one sequence on the
  // container's digest key (as InitDigestKeyCtx chooses it): the secure
  // session, DigestInit, DigestUpdate, DigestFinal, and when
  // ppbySignatureValue is given the token's signature over that digest (a
  // new buffer, array new). Nothing of it is left on the token for a later
  // call. *pdwDigestSize: capacity in, the digest's length out. bSessionSet:
  // the caller holds the token's sequence lock and set up the session on the
  // token's current context under it (its PIN verification), so none is set
  // up again.
  HRESULT DigestOnToken(const char* pszDevName, const char* pszContainerName,
                        const BYTE* pbyData, DWORD dwDataSize, BYTE* pbyDigest,
                        DWORD* pdwDigestSize, BYTE** ppbySignatureValue,
                        DWORD* pdwSignatureValueSize, BOOL bSessionSet = FALSE);
  HRESULT SignHashValue(const char* pszDevName, const char* pszContainerName, DWORD dwKeySpec,
                        ALG_ID dwHashType, const BYTE* pbyHashData, DWORD dwHashDataSize,
                        BYTE** ppbySignatureValue, DWORD* pdwSignatureValueSize);

  // ---- verification, decryption, encryption ----
  HRESULT PubKeyVerifyHash(const char* pszDevName, const char* pszContainerName, DWORD dwKeySpec,
                           ALG_ID uHashAlg, const BYTE* pbySourceHashData,
                           DWORD dwSourceHashDataSize, const BYTE* pbySignatureValue,
                           DWORD dwSignatureValueSize);
  HRESULT DecryptByDevice(const char* pszDevName, const char* pszContainerName, DWORD dwKeySpec,
                          const BYTE* pbyEncryptedData, DWORD dwEncryptedDataSize,
                          BYTE** ppbyPlainData, DWORD* pdwPlainDataSize);
  HRESULT PubKeyEncrypt(const char* pszDevName, const char* pszContainerName, DWORD dwKeySpec,
                        const BYTE* pbyPlainData, DWORD dwPlainDataSize,
                        BYTE** ppbyEncryptedData, DWORD* pdwEncryptedDataSize);

  // ---- key generation and private-key import ----
  // Whether the container may take another key pair, from the list's copy
  // of its record (nothing is sent): NTE_BAD_KEY_STATE when it is complete
  // (its exchange pair alone, or both pairs), E_FAIL when it is not listed.
  HRESULT CheckContainerTakesNewKey(const char* pszDevName, const char* pszContainerName);
  HRESULT GenKeyPair(const char* pszDevName, const char* pszContainerName, DWORD dwKeySpec,
                     DWORD dwKeySetAlg, DWORD dwKeyBitsLength);
  HRESULT ImportEncryptedPrivateKey(const char* pszDevName, const char* pszContainerName,
                                    DWORD dwKeySpec, DWORD dwKeySetAlg, DWORD dwKeyBitsLength,
                                    const BYTE* pbySymKey, DWORD dwSymKeySize,
                                    const BYTE* pbyAsymKey, DWORD dwAsymKeySize);
  HRESULT ImportRSA1024PrivateKey(const char* pszDevName, const char* pszContainerName,
                                  DWORD dwKeySpec, const RSA_KEY& stRSAKey);
  HRESULT ImportRSA1024PrivateKey(const char* pszDevName, const char* pszContainerName,
                                  DWORD dwKeySpec, const BYTE* pbyPrivateKeyN,
                                  DWORD dwPrivateKeyNSize, const BYTE* pbyPrivateKeyE,
                                  DWORD dwPrivateKeyESize, const BYTE* pbyPrivateKeyD,
                                  DWORD dwPrivateKeyDSize);

  // ---- PINs and security state ----
  HRESULT CheckPIN(const char* szDevName, DWORD dwPinType, const char* szUserPin,
                   DWORD dwUserPinSize, int nLeftTimes, DWORD dwConfirm);
  HRESULT ModifyPIN(const char* szDevName, DWORD dwPinType, const char* szOldPin,
                    DWORD dwOldPinSize, const char* szNewPin, DWORD dwNewPinSize, int nLeftTimes,
                    DWORD dwConfirm);
  HRESULT UnlockUserPIN(const char* pszDevName, const char* pszAdminPIN, const char* pszDefaultPIN);
  HRESULT GetPINInfo(const char* pszDevName, DWORD dwPinType, DWORD* pdwLeftTimes,
                     DWORD* pdwStatus, DWORD* pdwModified);
  HRESULT ResetKey(const char* pszDevName);
  HRESULT EraseKey(const char* pszDevName);
  HRESULT InitKey(const char* pszDevName);
  HRESULT GetDeviceLabelInfo(const char* pszDevName, char** ppszDeviceLabel);
  HRESULT SetDeviceLabelInfo(const char* pszDevName, const char* pszDeviceLabel);

  // ---- test hooks ----
  void SetTickSource(TickSource pfnTicks) { m_pfnTicks = pfnTicks != nullptr ? pfnTicks : ::GetTickCount64; }
  ULONGLONG Ticks() const { return m_pfnTicks(); }
  void SetUpdateWait(DWORD dwMilliseconds) { m_dwUpdateWaitMs = dwMilliseconds; }
  // Null goes back to the token API's.
  void SetRandomSource(RandomSource pfnRandom) { m_pfnRandom = pfnRandom; }

  // ---- members, in this order; the layers above read them ----
  BOOL m_bInitialize;
  int m_nCurrentDeviceIndex;                    // -1: none selected
  char m_szCurrentDeviceName[kDeviceNameChars];  // the selected token; empty: none
  DEV_CTX* m_lpCurrentDevice;                   // the selected item's pDevCtx, not an owner
  std::vector<DeviceItem> m_vtrDeviceSet;
  std::vector<ContainerItem> m_vtrContainerSet;
  int m_nCurrentEnumContainerIndex;
  int m_nCurrentEnumAlgIndex;
  int m_nCurrentEnumAlgExIndex;
  wchar_t m_wszProviderName[kDeviceNameChars];
  DWORD m_dwDefaultPINCheck;
  DWORD m_dwMessageType;
  DWORD m_dwCustomerType;
  BOOL m_bFlagFileExist;
  HANDLE m_hEventA;
  HANDLE m_hEventB;
  std::map<std::string, UserPINContext> m_mapUserPINContext;
  DWORD m_dwKeepPINTimeout;
  HANDLE m_hDeviceUpdateMutex;

 private:
  // Enumerates the tokens and opens each into the (empty) device list.
  HRESULT BuildDeviceList();
  // Empties the container list and reads every listed token's containers.
  HRESULT BuildContainerList();
  // Points the selection's index and context at m_szCurrentDeviceName's
  // item, or at none.
  void RepointSelection();
  void CloseKernelObjects();

  TickSource m_pfnTicks = ::GetTickCount64;
  RandomSource m_pfnRandom = nullptr;  // null: the token API's GenerateRandom
  DWORD m_dwUpdateWaitMs = kUpdateWaitMs;
};

}  // namespace merro::device

// The device object of the process; the token-layer start creates it and
// the token-layer stop destroys it.
extern merro::device::DeviceHandle* g_pDeviceHandle;
