// An SM2 key pair on the token.
#pragma once

#include "tokenapi/keyobjects/asym_key_object.h"
#include "tokenapi/keyobjects/sign_shadow.h"

class CSM2DevObj : public CAsymKeyObject {
 public:
  CSM2DevObj() = default;

  bool SetKeyType(BYTE byKeyType) override;
  // Encrypt: nInlen + 97; decrypt: nInlen - 97 (wraps below 97 to a length
  // no buffer has, so the size check refuses); sign and verify: 64; else 0.
  DWORD GetOutLen(BYTE byOperation, DWORD nInlen) override;
  HRESULT Decrypt(const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf, DWORD* pOutLen) override;
  HRESULT SignDataInit(BYTE nHashType) override;
  HRESULT SignDataUpdate(const BYTE* pInbuf, DWORD nInlen) override;
  HRESULT SignDataFinal(BYTE* pDigestbuf, DWORD* pDigestlen) override;
  HRESULT SignDataResult(BYTE* pSignbuf, DWORD* pSignlen) override;
  HRESULT SignXML(BYTE nHashType, const BYTE* pInbuf, DWORD nInlen, BYTE* pSignbuf,
                  DWORD* pSignlen) override;
  HRESULT SignDigest(const BYTE* pInbuf, DWORD nInlen, BYTE* pSignbuf, DWORD* pSignlen) override;
  HRESULT Encrypt(const BYTE* pInbuf, DWORD nInlen, BYTE* pOutbuf, DWORD* pOutLen) override;
  HRESULT Verify(BYTE nHashType, const BYTE* pDigestbuf, DWORD nHashlen, const BYTE* pSignbuf,
                 DWORD nSignlen) override;

 private:
  // The hashing sequence as the host sees it (sign_shadow.h), and the
  // public key of the key file, read at its start.
  merro::keyobjects::SignShadow m_shadow;
  BYTE m_signerPublic[64] = {};
};
