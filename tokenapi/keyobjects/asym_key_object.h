// Device key objects: one asymmetric key pair in a key file on the token.
//
// An object binds the open token (DEV_CTX), the key file id and the key
// type and offers one set of operations for SM2 and RSA keys: private-key
// operations that run on the token and public-key operations that run on
// the host with the public key read from the token. The public token API
// hands an object out as its key context and calls the static wrappers,
// each of which runs one operation under the token's device mutex:
//
//   void* key = nullptr;
//   CAsymKeyObject::AsymKeyInit(pDevCtx, MR_ALG_SM2, 0xC004, &key);
//   DWORD sigLen = 64;
//   CAsymKeyObject::PrikeySign(key, 0, 0, digest, 32, sig, &sigLen);
//   CAsymKeyObject::AsymKeyFinal(key);
//
// A signature with the hashing on the token is PrikeySignDataInit, any
// number of PrikeySignDataUpdate, PrikeySignDataFinal, PrikeySignDataResult
// on one object; the token keeps the progress, the object checks no order.
// The object hashes the same data on the host (sign_shadow.h): a digest or
// signature the token returns over other data (another process's sequence
// in between) fails with MR_E_SIGN_DATA_MISMATCH, its output wiped.
//
// Results are 0 or error codes: 0x80070001 for a null argument, 0x80070003
// for an output buffer that is too small, 0x80070004 for a wrong input
// length, 0x80070209 for a refused key or hash type, 0x80070207 / 0x80070212
// for a failed host-side operation, token status words as 0x8000xxxx and
// the folded result of a failed mutex wait, token command or key export;
// 0x80070213 (MR_E_SIGN_DATA_MISMATCH) for a token-hashed digest or
// signature that is not over this object's data.
#pragma once

#include "foundation/alg_ids.h"
#include "foundation/platform.h"
#include "tokenapi/commands/private_key_codes.h"
#include "tokenapi/transport/device_ctx.h"

// The result of a base-class operation.
constexpr HRESULT ASYMKEY_NOT_SUPPORTED = static_cast<HRESULT>(0x10000008);

// Operation codes of GetOutLen.
constexpr BYTE ASYMKEY_OP_ENCRYPT = 1;
constexpr BYTE ASYMKEY_OP_DECRYPT = 2;
constexpr BYTE ASYMKEY_OP_SIGN = 4;
constexpr BYTE ASYMKEY_OP_VERIFY = 8;

// Display flag of PrikeySign: sign a message shown on the token's display.
constexpr DWORD ASYMKEY_SIGN_DISPLAY = 1;

class CAsymKeyObject {
 public:
  // The eleven operations, in this order in every derived class.
  virtual bool SetKeyType(BYTE byKeyType);
  virtual DWORD GetOutLen(BYTE byOperation, DWORD nInlen);
  virtual HRESULT Decrypt(const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf, DWORD* pOutLen);
  virtual HRESULT SignDataInit(BYTE nHashType);
  virtual HRESULT SignDataUpdate(const BYTE* pInbuf, DWORD nInlen);
  virtual HRESULT SignDataFinal(BYTE* pDigestbuf, DWORD* pDigestlen);
  virtual HRESULT SignDataResult(BYTE* pSignbuf, DWORD* pSignlen);
  virtual HRESULT SignXML(BYTE nHashType, const BYTE* pInbuf, DWORD nInlen, BYTE* pSignbuf,
                          DWORD* pSignlen);
  virtual HRESULT SignDigest(const BYTE* pInbuf, DWORD nInlen, BYTE* pSignbuf, DWORD* pSignlen);
  virtual HRESULT Encrypt(const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf, DWORD* pOutLen);
  virtual HRESULT Verify(BYTE nHashType, const BYTE* pDigestbuf, DWORD nHashlen,
                         const BYTE* pSignbuf, DWORD nSignlen);
  // After the eleven operations, so that their order stays as above:
  // AsymKeyFinal deletes an object of a derived class through this type.
  virtual ~CAsymKeyObject() = default;

  void SetDevCtx(DEV_CTX* pDevCtx) { m_pDevCtx = pDevCtx; }
  DEV_CTX* GetDevCtx() const { return m_pDevCtx; }
  void SetKeyFID(WORD wKeyFID) { m_wKeyFID = wKeyFID; }
  WORD GetKeyFID() const { return m_wKeyFID; }
  BYTE GetKeyType() const { return m_byKeyType; }

  // Factory: an SM2 object for key type 0x11, an RSA object for 1 and 7.
  static HRESULT AsymKeyInit(DEV_CTX* pDevCtx, BYTE nKeyType, WORD wKeyFID, void** ppKeyCtx);
  // Destroys an object of AsymKeyInit; null is accepted. Always 0.
  static HRESULT AsymKeyFinal(void* pKeyCtx);

  // Each holds the device mutex around one operation. *pOutLen / *pSignlen:
  // capacity in, length out.
  static HRESULT PubkeyEnc(void* pKeyCtx, const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf,
                           DWORD* pOutLen);
  static HRESULT PubkeyVerify(void* pKeyCtx, BYTE nHashType, const BYTE* pDigestbuf,
                              DWORD nHashlen, const BYTE* pSignbuf, DWORD nSignlen);
  static HRESULT PrikeySignDataInit(void* pKeyCtx, BYTE nHashType);
  static HRESULT PrikeySignDataUpdate(void* pKeyCtx, const BYTE* pInbuf, DWORD nInlen);
  static HRESULT PrikeySignDataFinal(void* pKeyCtx, BYTE* pDigestbuf, DWORD* pDigestlen);
  static HRESULT PrikeySignDataResult(void* pKeyCtx, BYTE* pSignbuf, DWORD* pSignlen);
  // Display flag ASYMKEY_SIGN_DISPLAY: sign the message pInbuf after the
  // user confirmed it on the token; any other value: sign the digest pInbuf.
  static HRESULT PrikeySign(void* pKeyCtx, DWORD dwDisplay, BYTE nHashType, const BYTE* pInbuf,
                            DWORD nInlen, BYTE* pSignbuf, DWORD* pSignlen);
  static HRESULT PrikeyDec(void* pKeyCtx, const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf,
                           DWORD* pOutLen);

 protected:
  CAsymKeyObject() = default;
  CAsymKeyObject(const CAsymKeyObject&) = delete;
  CAsymKeyObject& operator=(const CAsymKeyObject&) = delete;

  DEV_CTX* m_pDevCtx = nullptr;  // not owned
  WORD m_wKeyFID = 0;
  BYTE m_byKeyType = 0;
};
