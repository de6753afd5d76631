// Container: the key container behind a provider handle. It names one
// container on one inserted token (the token's device name and the
// container's name), remembers how it was acquired (user interface allowed,
// machine key set, ephemeral) and reaches the token only through the one
// device object g_pDeviceHandle (declared in device/device_handle.h).
//
// The class also carries, as static operations, the start and stop of the
// token layer (TokenInitialize / TokenUninitialize: they create and destroy
// g_pDeviceHandle), the information the certificate manager shows, the
// clean-up of the personal store, and the enumerations behind the provider
// parameters (their cursors live in the device object).
//
// The operations live in one file per job: container.cpp (object, factories,
// key slots, PIN check and change), container_token_layer.cpp (start and
// stop), container_user_pin.cpp (the kept PIN), container_information.cpp
// (token count and the manager's information, VerifyContainerCertDate),
// container_store_cleanup.cpp (RemoveCertFromBrowser), container_enum.cpp
// (the algorithm table and the three enumerations) and container_params.cpp
// (the other provider parameters and accessors).
//
// Buffers handed out are array-new buffers that the caller frees with
// delete[]; a PIN handed out is wiped first (merro::SecureWipe).
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <memory>

#include "device/device_handle.h"
#include "device/provider_settings.h"
#include "foundation/alg_ids.h"
#include "provider/container_information.h"

namespace merro::provider {

// A container's key pair of one key specification: which algorithm and how
// many bits (0 and 0 until known).
struct KeySlot {
  DWORD dwKeySpec = 0;  // AT_SIGNATURE or AT_KEYEXCHANGE, fixed per slot
  DWORD dwKeyAlg = 0;   // Container::KEYSETALGORITHM_RSA / _SM2, or 0
  DWORD dwKeyBits = 0;  // 256 (SM2), 1024 or 2048 (RSA), or 0
};

// The container's kept PIN as the data-protection API protected it; the
// blob is wiped before it is freed.
struct ProtectedPIN {
  ProtectedPIN() = default;
  ~ProtectedPIN() { Reset(); }
  ProtectedPIN(const ProtectedPIN&) = delete;
  ProtectedPIN& operator=(const ProtectedPIN&) = delete;
  // Takes a blob made by CreateProtectData (array new); the old one goes.
  void Replace(BYTE* pbyBlob, DWORD dwBlobLength);
  void Reset() { Replace(nullptr, 0); }

  DWORD dwLength = 0;
  std::unique_ptr<BYTE[]> pbyData;
};

class Container {
 public:
  static constexpr UINT KEYSETALGORITHM_RSA = ::KEYSETALGORITHM_RSA;  // 1
  static constexpr UINT KEYSETALGORITHM_SM2 = ::KEYSETALGORITHM_SM2;  // 2
  // Characters of the two name fields, with the terminator.
  static constexpr size_t kNameChars = 260;

  // Copies each name (at most 259 bytes and a terminator; null: empty).
  Container(const char* pszDeviceName, const char* pszContainerName, BOOL bAllowUI,
            BOOL bMachineKeySet, BOOL bThirdFlag, BOOL bEphemeral);
  // An ephemeral container removes its certificates from the personal store
  // (RemoveCertFromBrowser) only when the device object already lists its
  // generated name, so its release sends no token a command; then the
  // prompt and the kept PIN go.
  virtual ~Container();
  Container(const Container&) = delete;
  Container& operator=(const Container&) = delete;

  // ---- token layer (container_token_layer.cpp) ----
  // Creates g_pDeviceHandle and initialises it with the settings. A second
  // start, or one after a failed start, answers S_OK and changes nothing.
  // GDI+ is not started here: the dialogs that draw pictures start it.
  static HRESULT TokenInitialize(ProviderSettings stSettings);
  // S_OK when not started or after stopping a started layer; E_FAIL after a
  // failed start.
  static HRESULT TokenUninitialize();

  // ---- factories (container.cpp) ----
  // A new container on the token the user selects (CRYPT_NEWKEYSET); without
  // a name it is "{GUID}.default". *phResult gets the result (0x8010006E
  // when the user cancelled; 0x80090022 when bAllowUI is FALSE and a dialog
  // would have been needed).
  static std::unique_ptr<Container> CreateNewContainer(const char* szContainer, BOOL bAllowUI,
                                                       BOOL bMachineKeySet, BOOL bThirdFlag,
                                                       HRESULT* phResult);
  // The container of that name on whichever token holds it, synchronised;
  // null when no token holds it.
  static std::unique_ptr<Container> CreateRegisteredContainer(const char* szContainer,
                                                              BOOL bAllowUI, BOOL bMachineKeySet);
  // A container only in this process (CRYPT_VERIFYCONTEXT without a name);
  // null when no token is inserted.
  static std::unique_ptr<Container> CreateEphemeralContainer(BOOL bAllowUI, BOOL bMachineKeySet,
                                                             BOOL bThirdFlag);

  // ---- key pairs and PIN (container.cpp) ----
  // Reads the key-set algorithm and both key slots from the token's record.
  HRESULT SynToContainer();
  // Whether a new key pair of this kind may be made here, asking the token
  // nothing: RSA 1024 or 2048 bits or SM2 256 bits (else 0x80070057), in a
  // container on a token (else 0x80090014) that is not complete (else
  // 0x8009000B) and is empty or holds keys of the same algorithm (else
  // 0x80090003).
  HRESULT CheckNewKeyPair(DWORD dwKeySpec, DWORD dwKeyAlg, DWORD dwKeyBits) const;
  // Makes the pair after CheckNewKeyPair, so that a refused request leaves
  // the token and the container's keys as they were.
  HRESULT GenerateKeyPair(DWORD dwKeySpec, DWORD dwKeyAlg, DWORD dwKeyBits);
  // CALG_RSA_SIGN / CALG_SM2_SIGN or CALG_RSA_KEYX / CALG_SM2_KEYX, and bits.
  HRESULT GetContainerInfo(DWORD dwKeySpec, ALG_ID* puAlgID, DWORD* pdwKeyBits);
  // The same from the container's record in the device object's list, with
  // no token command: NTE_NO_KEY when the record holds no key of dwKeySpec.
  HRESULT GetRecordedKeyInfo(DWORD dwKeySpec, ALG_ID* puAlgID, DWORD* pdwKeyBits);
  // Both: the token (bAskToken) or the record says whether the key is
  // there; the algorithm and bits come from the record.
  HRESULT KeyInfo(DWORD dwKeySpec, bool bAskToken, ALG_ID* puAlgID, DWORD* pdwKeyBits);
  HRESULT CheckPIN(const BYTE* pbyPIN, DWORD dwPINLength);
  HRESULT ChangePIN(const BYTE* pbyOldPIN, DWORD dwOldPINLength, const BYTE* pbyNewPIN,
                    DWORD dwNewPINLength);

  // ---- kept PIN (container_user_pin.cpp) ----
  HRESULT SetUserPIN(const BYTE* pbyUserPIN, DWORD dwPinLength);
  // The kept PIN in a new buffer (array new): the caller wipes and frees it.
  HRESULT GetUserPIN(BYTE** ppbyUserPIN, DWORD* pdwPINLength);
  BOOL HaveUserPIN() const;
  void ClearUserPIN();

  // ---- the manager's information (container_information.cpp,
  // container_store_cleanup.cpp) ----
  static HRESULT GetInsertedKeyCount(DWORD* pdwCount);
  // Appends one TokenInformation per inserted token to *pList and fills the
  // default-PIN and certificate-date conditions of *pstSecureInfo.
  static HRESULT GetAllContainerInformation(DWORD dwPinType, TokenInformationList* pList,
                                            SecureInfo* pstSecureInfo);
  // Removes the certificates that the token holds in that container from
  // the personal store "MY"; always S_OK.
  static HRESULT RemoveCertFromBrowser(const char* szContainer, BOOL bAllowUI,
                                       BOOL bMachineKeySet);

  // ---- enumerations (container_enum.cpp) ----
  // Size-query convention of the provider parameters: a null buffer gets
  // the needed length. Only dwFlags == CRYPT_FIRST restarts an enumeration.
  static HRESULT EnumAlgorithm(BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags);
  static HRESULT EnumAlgorithmEx(BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags);
  static HRESULT EnumContainerName(BYTE* pbData, DWORD* pdwDataLen, DWORD dwFlags);

  // ---- parameters and accessors (container_params.cpp) ----
  static void GetCSPName(BYTE* pbData, DWORD* pdwDataLen);
  void GetContainerName(BYTE* pbData, DWORD* pdwDataLen) const;
  void GetDeviceName(BYTE* pbData, DWORD* pdwDataLen) const;
  static HRESULT GetKeysetSecurityDescriptor(BYTE* pbData, DWORD* pdwDataLen);
  static HRESULT GetProviderType(BYTE* pbData, DWORD* pdwDataLen);
  static void GetImplementType(BYTE* pbData, DWORD* pdwDataLen);
  static void GetCSPVersion(BYTE* pbData, DWORD* pdwDataLen);
  static void GetKeySpec(BYTE* pbData, DWORD* pdwDataLen);
  void GetComputerKeySet(BYTE* pbData, DWORD* pdwDataLen) const;
  static void GetKeysToRage(BYTE* pbData, DWORD* pdwDataLen);
  HRESULT SetClientWindow(HWND hWnd);
  HRESULT SetPINPromptString(const wchar_t* lpwPromptString);
  // A new copy of the prompt (array new) and its length without the
  // terminator; neither is written when no prompt is set.
  void GetCustomPinPrompt(wchar_t** ppwszPrompt, DWORD* pdwPromptLength) const;
  HWND GetOwnerWindow() const;
  BOOL IsMachineKeySet() const { return m_bMachineKeySet != FALSE; }
  BOOL IsEphemeral() const { return m_bEphemeral != FALSE; }
  BOOL IsAllowUI() const { return m_bAllowUI != FALSE; }
  UINT GetKeySetAlgorithm() const { return m_uKeySetAlgorithm; }
  // TRUE when accepted: a container that already holds keys keeps its
  // algorithm.
  BOOL SetKeySetAlgorithm(UINT uKeySetAlgorithm);

  // The slot of a key specification; null for any other value.
  KeySlot* SlotOf(DWORD dwKeySpec);

  // ---- fields, in this order ----
  BOOL m_bAllowUI;
  BOOL m_bMachineKeySet;
  BOOL m_bThirdFlag;  // stored by the factories; nothing reads it
  BOOL m_bEphemeral;
  UINT m_uKeySetAlgorithm;
  HWND m_hClientWnd;
  std::unique_ptr<wchar_t[]> m_lpwPromptString;
  KeySlot m_stSignKey;
  KeySlot m_stExchKey;
  ProtectedPIN m_stUserPIN;
  char m_szContainerName[kNameChars];
  char m_szDeviceName[kNameChars];
};

// The date conditions of one container's certificates, merged into
// *pstSecureInfo (state 2 expired, 1 about to expire; the last container
// that meets one decides). S_OK; with dwCertAlertDays
// CERT_VALID_DATE_NOALERT nothing changes.
HRESULT VerifyContainerCertDate(const ContainerInformation& stContainerInfo,
                                SecureInfo* pstSecureInfo);

}  // namespace merro::provider
