// Key blobs for the token's key import, made as the producer above the
// library makes them (tokensim/README.md, "Wrapped key import"): a 16-byte
// SM4 wrapping key SM2-encrypted under the public key of the token's key
// file 0x0012, key pairs SM4-CBC-encrypted under it (zero IV, no padding),
// or an SM2 pair SM2-encrypted whole. Built in both trees.
//
//   BYTE xy[64];
//   ASSERT_EQ(TokenWrapPublicKey(ctx, xy), 0);
//   const Bytes blob = WrappedSm2Pair(xy, sm4Key, pair);     // 209 bytes
//   mr_ImportKeyPair(ctx, MR_ALG_SM2, fid, blob.data(), 209, nullptr);
#pragma once

#include <vector>

#include "foundation/platform.h"
#include "tokenapi/commands/key_commands.h"

namespace merro::testing {

// The public key x || y of the token's key file 0x0012, as exported.
HRESULT TokenWrapPublicKey(DEV_CTX* pDevCtx, BYTE xy[64]);

// sm4Key (16 bytes) SM2-encrypted under tokenPublic: 04 || x1 || y1 || C2
// || C3, 113 bytes.
std::vector<BYTE> WrapKey(const BYTE tokenPublic[64], const BYTE sm4Key[16]);

// plain (a whole number of 16-byte blocks) SM4-CBC-encrypted under key
// with a zero IV and no padding.
std::vector<BYTE> Sm4CbcEncrypt(const BYTE key[16], const std::vector<BYTE>& plain);

// The SM2 pair for IMPORT SM2 KEY PAIR: the wrapped key, then x || y || d
// under it (209 bytes) ...
std::vector<BYTE> WrappedSm2Pair(const BYTE tokenPublic[64], const BYTE sm4Key[16], const SM2_KEY& key);
// ... or x || y || d SM2-encrypted under tokenPublic (193 bytes).
std::vector<BYTE> EncryptedSm2Pair(const BYTE tokenPublic[64], const SM2_KEY& key);

// An RSA-2048 pair for IMPORT WRAPPED RSA KEY PAIR: the 128-byte block of
// the wrapped key (113 bytes and zeros) and n || d || e (4 bytes) || zeros
// (640 bytes) under it.
struct WrappedRsaPair {
  std::vector<BYTE> keyBlock;
  std::vector<BYTE> pair;
};
WrappedRsaPair WrapRsaPair(const BYTE tokenPublic[64], const BYTE sm4Key[16], const RSA_KEY& key);

}  // namespace merro::testing
