// An RSA key pair (1024 or 2048 bits) on the token.
#pragma once

#include "tokenapi/keyobjects/asym_key_object.h"
#include "tokenapi/keyobjects/sign_shadow.h"

class CRSADevObj : public CAsymKeyObject {
 public:
  CRSADevObj() = default;

  // 7 sets the modulus length to 256, 1 to 128; other values leave it.
  bool SetKeyType(BYTE byKeyType) override;
  // The modulus length for every operation.
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

  DWORD ModulusLen() const { return m_nModulusLen; }
  BYTE DigestLen() const { return m_byDigestLen; }

 private:
  DWORD m_nModulusLen = 128;
  // Digest length of the hashing sequence under way: written by
  // SignDataInit, read by SignDataFinal.
  BYTE m_byDigestLen = 0;
  // The hashing sequence as the host sees it (sign_shadow.h).
  merro::keyobjects::SignShadow m_shadow;
};
