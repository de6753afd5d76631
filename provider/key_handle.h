// KeyHandle: the provider's key object. Every key handle the provider gives
// out points at one: either one of the two key pairs of a token container
// (RSA or SM2, signature or exchange), which stays on the token, or a session
// key held here in memory.
//
// The operations live in one file per job: key_handle.cpp (construction and
// the algorithm table), key_pin.cpp (the PIN checks every private-key
// operation goes through), key_generate.cpp, key_params.cpp, key_sign.cpp,
// key_asym_cipher.cpp, key_import.cpp, key_cert_import.cpp and
// key_sym_cipher.cpp.
//
// Buffers handed out by the static PIN operations are array-new buffers: the
// caller wipes them (merro::SecureWipe) and delete[]s them. Output buffers of
// the cipher operations and of GetPublicKeyFromCert are array-new too.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include "foundation/secret_bytes.h"
#include "provider/session_cipher_blocks.h"
#include "tokenapi/api/asym_api.h"

struct RSA_KEY;
struct SYMKEY_HANDLE;

namespace merro::provider {

class Container;
class HashHandle;
struct OperationSequence;

// The key-type values of m_dwKeyType: the container's key-set algorithms
// (Container::KEYSETALGORITHM_RSA / _SM2) and, unnamed there, a session key.
constexpr DWORD KEY_TYPE_SESSION = 3;

// What an SM2 encryption adds to its input: C1 (0x04, x, y) and the digest C3.
inline constexpr DWORD kSm2CipherOverhead = MR_SM2_CIPHER_OVERHEAD;

class KeyHandle {
 public:
  KeyHandle();
  virtual ~KeyHandle();
  KeyHandle(const KeyHandle&) = delete;
  KeyHandle& operator=(const KeyHandle&) = delete;

  // Sets the algorithm fields from the ALG_ID (1 and 2 stand for the RSA
  // exchange and signature keys) and allocates zeroed IV and session-key
  // buffers. 0x80070032 for any other ALG_ID, with nothing changed.
  HRESULT InitKeyHandle(ALG_ID uAlgID, DWORD dwFlags);

  // Ends the running session-key cipher, if one runs: its context is freed
  // and its last output, which nobody reads, wiped; m_pEvpCtx is null after.
  // The result of the token API's Final (S_OK when none ran), for the
  // caller's trace.
  HRESULT EndRunningCipher();

  // ---- PIN ----
  // The PIN dialog: mode 0 user PIN, 1 administrator PIN, 2 again after a
  // wrong PIN. On success *ppszPIN is a new terminated buffer. hOwner owns
  // the dialog; without one, the window FindOwnerWindow picks in this process.
  static HRESULT GetUserPIN(DWORD dwMode, int nLeftTimes, char** ppszPIN, HWND hOwner = nullptr);
  // Makes sure the user PIN of this key's token is verified, asking (and
  // keeping) it as needed. When the container allows no user interface,
  // 0x80090022 where the PIN dialog would show, before any PIN is sent.
  // With pSequence, the verification runs under the token's sequence lock,
  // taken after the PIN dialog and left held for the operation that
  // follows, and the verified PIN is kept there for a rerun (which shows no
  // dialog). A lost session or security state is returned as the token
  // gave it, never taken for a wrong PIN.
  HRESULT CheckUserPIN(BOOL bForce, BOOL bRetry, OperationSequence* pSequence = nullptr);
  // For the manager: asks a PIN of the given type and verifies it; with a
  // non-null ppszPIN the verified PIN is handed out.
  static HRESULT CheckPINCode(const char* pszDevName, DWORD dwPINType, BOOL bForce, BOOL bRetry,
                              char** ppszPIN);
  // For the manager: verifies a PIN already in hand.
  static HRESULT CheckPINCode(const char* pszDevName, DWORD dwPINType, const char* pszPIN);
  static HRESULT ModifyPINWithTip(const char* pszDevName, DWORD dwPINType, const BYTE* pbyOldPIN,
                                  DWORD dwOldPINSize, const BYTE* pbyNewPIN, DWORD dwNewPINSize);

  // ---- generation and duplication ----
  HRESULT GenerateKey();
  HRESULT DuplicateKey(const KeyHandle& source);
  HRESULT ConstructRSAPrivateKeyFromPrivateKeyBlob(const BYTE* pbyP1PrivateKey,
                                                   DWORD dwP1PrivateKeySize, RSA_KEY* pRSAKey);

  // ---- parameters, export, random data ----
  // Size-query convention: a null buffer gives the size; a short one gives
  // HRESULT_FROM_WIN32(ERROR_MORE_DATA) with the needed length.
  HRESULT ExportAlgID(DWORD* pbData, DWORD* pdwLength);
  HRESULT ExportBlockLength(DWORD* pbData, DWORD* pdwLength);
  HRESULT ExportKeyLength(DWORD* pbData, DWORD* pdwLength);
  HRESULT ExportPermissions(DWORD* pbData, DWORD* pdwLength);
  HRESULT ExportIV(BYTE* pbData, DWORD* pdwLength);
  HRESULT ExportCertificate(BYTE* pbCertData, DWORD* pdwCertDataLen);
  // The two public-key buffers in the token's byte order: X and Y for SM2,
  // N and E for RSA; new buffers owned by the caller.
  HRESULT ExportPublicKey(BYTE** ppbyPublicKeyXorN, DWORD* pdwPublicKeyXorNSize,
                          BYTE** ppbyPublicKeyYoE, DWORD* pdwPublicKeyYoESize);
  static HRESULT GenRandomData(const char* pszDevName, BYTE* pbRandomData, DWORD dwRandomDataLen);

  // ---- signing and verification ----
  // Finishes the hash and signs it; on success *pdwSigLen is the length of
  // the signature written in CryptoAPI's byte order. The token's security
  // state is reset on every exit.
  HRESULT SignHashData(HashHandle* pHashHandle, BYTE* pbySignature, DWORD* pdwSigLen);
  // The signature in CryptoAPI's byte order (SM2: 64 bytes, r and s each
  // reversed); the caller's buffer is only read.
  HRESULT VerifyData(ALG_ID uHashAlgID, const BYTE* pbyHashData, DWORD dwHashDataSize,
                     const BYTE* pbySignature, DWORD dwSignatureSize);
  HRESULT GetPublicKeyFromCert(const BYTE* pbyCertData, DWORD dwCertDataSize,
                               BYTE** ppbyPublicKeyData, DWORD* pdwPublicKeySize);
  HRESULT UpdateCertDeleteOtherContainer(const char* pszDeviceName, const char* pszContainerName);

  // ---- certificate import ----
  HRESULT ImportCertificate(const BYTE* pbCertData);
  HRESULT ImportCertToBrowser(DWORD dwKeySpec, const BYTE* pbyCertData, DWORD dwCertDataSize);

  // ---- asymmetric ciphers (token byte order) ----
  HRESULT AsymEncrypt(const BYTE* pbyPlainData, DWORD dwPlainDataSize, BYTE** ppbyEncryptedData,
                      DWORD* pdwEncryptedDataSize);
  HRESULT AsymDecrypt(const BYTE* pbyEncryptedData, DWORD dwEncryptedDataSize,
                      BYTE** ppbyPlainData, DWORD* pdwPlainDataSize);
  // One run of AsymDecrypt's PIN check and decryption in pSequence.
  HRESULT DecryptInSequence(const BYTE* pbyEncryptedData, DWORD dwEncryptedDataSize,
                            OperationSequence* pSequence, merro::SecretBytes* pPlain);

  // ---- private-key import ----
  HRESULT ImportPrivateKey(const BYTE* pbyPrivateKey, DWORD dwLength, DWORD dwModuluBitLen);
  HRESULT ImportSM2PrivateKey(const BYTE* pbySM2PrivateKey, DWORD dwLength);
  HRESULT ImportRSAEncryPrivateKey(const BYTE* pbyEncryPrivateKey, DWORD dwLength,
                                   DWORD dwKeyBits);
  HRESULT ImportRSA1024PrivateKey(const BYTE* pbyRSA1024PrivateKey, DWORD dwLength);

  // ---- session-key ciphers ----
  HRESULT SymEncryptInit();
  HRESULT SymDecryptInit();
  HRESULT SymEncryptUpdate(const BYTE* pbySourceData, DWORD dwSourceDataLen, BYTE** ppbyOutData,
                           DWORD* pdwOutDataLen);
  HRESULT SymDecryptUpdate(const BYTE* pbySourceData, DWORD dwSourceDataLen, BYTE** ppbyOutData,
                           DWORD* pdwOutDataLen);
  HRESULT SymEncryptFinal(BYTE** ppbyOutData, DWORD* pdwOutDataLen);
  HRESULT SymDecryptFinal(BYTE** ppbyOutData, DWORD* pdwOutDataLen);

  // The container the key belongs to; not owned.
  Container* m_pContainer = nullptr;
  // Session-key bytes (array-new, wiped before release).
  CRYPT_DATA_BLOB m_stSymKey{0, nullptr};
  ALG_ID m_uAlgID = 0;
  DWORD m_dwPermissions = 0;
  // Key length in bits: RSA modulus bits, 256 for SM2, session-key bits.
  DWORD m_dwModulusBits = 0;
  // AT_KEYEXCHANGE 1 or AT_SIGNATURE 2 for container keys, 0 for session keys.
  DWORD m_dwKeySpec = 0;
  // 1 RSA, 2 SM2 (the container's key-set algorithms), 3 session key.
  DWORD m_dwKeyType = 0;
  DWORD m_dwBlockBits = 0;
  DWORD m_dwMode = 0;
  // IV buffer of m_dwIVBits / 8 bytes (array-new).
  BYTE* m_pbyIV = nullptr;
  DWORD m_dwIVBits = 0;
  // The running session-key cipher; owned, null when none runs.
  SYMKEY_HANDLE* m_pEvpCtx = nullptr;
  // The running cipher's block bookkeeping, which the provider core keeps
  // across its calls.
  SessionCipherBlocks m_cipherBlocks;
};

// Splits the encrypted RSA private-key envelope (one DER element of five)
// into its encrypted symmetric key (element 4) and encrypted private key
// (element 5): two new buffers owned by the caller.
HRESULT GetRSAPriKeyInfoFormASN1(const BYTE* pASN1PrivateKey, DWORD dwASN1PrivateKeySize,
                                 BYTE** ppbyEncrySymKey, DWORD* pdwEncrySymKeySize,
                                 BYTE** ppbyEncryAsymKey, DWORD* pdwEncryAsymKeySize);

}  // namespace merro::provider
