#include "tokenapi/crypto/sm2/sm2_z.h"

#include "tokenapi/crypto/common/openssl_ptr.h"
#include "tokenapi/crypto/sm3/sm3.h"

namespace merro::crypto {

// GM/T 0009-2012, 10: the default user identity "1234567812345678".
const std::uint8_t kSm2DefaultId[16] = {'1', '2', '3', '4', '5', '6', '7', '8',
                                        '1', '2', '3', '4', '5', '6', '7', '8'};

int SM2_CalculateZValue(const std::uint8_t* id, size_t idLen, const BIGNUM* a, const BIGNUM* b,
                        const BIGNUM* Gx, const BIGNUM* Gy, const BIGNUM* xA, const BIGNUM* yA,
                        std::uint8_t Z[kSm2ZBytes]) {
  if ((id == nullptr && idLen != 0) || idLen > kSm2MaxIdBytes || Z == nullptr) {
    return 0;
  }
  const size_t entl = idLen * 8;
  const std::uint8_t entlBytes[2] = {static_cast<std::uint8_t>(entl >> 8),
                                     static_cast<std::uint8_t>(entl)};
  SM3_CTX sm3;
  SM3_Init(&sm3);
  SM3_Update(&sm3, entlBytes, sizeof(entlBytes));
  SM3_Update(&sm3, id, idLen);
  std::uint8_t field[kSm2FieldBytes];
  int ok = 1;
  for (const BIGNUM* value : {a, b, Gx, Gy, xA, yA}) {
    if (!SM2_BN2Bytes(value, field)) {
      ok = 0;
      break;
    }
    SM3_Update(&sm3, field, sizeof(field));
  }
  if (ok) {
    ok = SM3_FinalDigest(&sm3, Z);
  }
  OPENSSL_cleanse(&sm3, sizeof(sm3));
  return ok;
}

int SM2_CalculateDefaultZValue(const std::uint8_t x[kSm2FieldBytes],
                               const std::uint8_t y[kSm2FieldBytes], std::uint8_t Z[kSm2ZBytes]) {
  if (x == nullptr || y == nullptr) {
    return 0;
  }
  const Sm2CurveParams& c = SM2_CurveParams(Sm2Curve::kRecommended);
  const BnPtr a = SM2_HexBn(c.a), b = SM2_HexBn(c.b), gx = SM2_HexBn(c.gx), gy = SM2_HexBn(c.gy);
  BnPtr xA(BN_new()), yA(BN_new());
  if (!a || !b || !gx || !gy || !xA || !yA || !SM2_Bytes2BN(x, xA.get()) ||
      !SM2_Bytes2BN(y, yA.get())) {
    return 0;
  }
  return SM2_CalculateZValue(kSm2DefaultId, sizeof(kSm2DefaultId), a.get(), b.get(), gx.get(),
                             gy.get(), xA.get(), yA.get(), Z);
}

}  // namespace merro::crypto
