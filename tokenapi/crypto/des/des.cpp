#include "tokenapi/crypto/des/des.h"

#include "tokenapi/crypto/algorithms.h"
#include "tokenapi/crypto/common/bytes.h"
#include "tokenapi/crypto/modes/mode_adapter.h"

namespace merro::crypto {

MR_DES_CTX::~MR_DES_CTX() { SecureWipe(schedule, sizeof(schedule)); }

void MR_DES_CTX::ProcessBlock(const std::uint8_t* in, std::uint8_t* out) const {
  DesCryptBlock(schedule, passes, in, out);
}

namespace {

// Which key (0 = K1, 1 = K2, 2 = K3) feeds schedules 1, 2 and 3, and
// whether that schedule decrypts, for one set-up and direction.
struct SchedulePlan {
  int key[3];
  bool decrypt[3];
};

int SetUp(MR_DES_CTX* ctx, std::uint32_t direction, const std::uint8_t* key, std::uint32_t mode,
          const std::uint8_t* iv, std::size_t passes, const SchedulePlan& encrypt,
          const SchedulePlan& decrypt) {
  if (ctx == nullptr || key == nullptr ||
      (direction != kDesEncrypt && direction != kDesDecrypt)) {
    return 0;
  }
  const SchedulePlan& plan = (direction == kDesEncrypt) ? encrypt : decrypt;
  for (std::size_t i = 0; i < passes; ++i) {
    DesSetKey(key + kDesKeyBytes * plan.key[i], plan.decrypt[i], &ctx->schedule[i]);
  }
  ctx->passes = passes;
  ctx->mode.Start(*ctx, mode == MR_MODE_ECB ? Chaining::kEcb : Chaining::kCbc,
                  direction == kDesEncrypt ? Direction::kEncrypt : Direction::kDecrypt, iv);
  return 1;
}

}  // namespace

int deskey(MR_DES_CTX* ctx, std::uint32_t direction, const std::uint8_t* key, std::uint32_t mode,
           const std::uint8_t* iv) {
  return SetUp(ctx, direction, key, mode, iv, 1, {{0}, {false}}, {{0}, {true}});
}

int des2key(MR_DES_CTX* ctx, std::uint32_t direction, const std::uint8_t* key, std::uint32_t mode,
            const std::uint8_t* iv) {
  return SetUp(ctx, direction, key, mode, iv, 3, {{0, 1, 0}, {false, true, false}},
               {{0, 1, 0}, {true, false, true}});
}

int des3key(MR_DES_CTX* ctx, std::uint32_t direction, const std::uint8_t* key, std::uint32_t mode,
            const std::uint8_t* iv) {
  return SetUp(ctx, direction, key, mode, iv, 3, {{0, 1, 2}, {false, true, false}},
               {{2, 1, 0}, {true, false, true}});
}

namespace {
// A context set up for the other kind of DES is refused.
MR_DES_CTX* OfKind(MR_DES_CTX* ctx, std::size_t passes) {
  return (ctx != nullptr && ctx->passes == passes) ? ctx : nullptr;
}
}  // namespace

int desupdate(MR_DES_CTX* ctx, const std::uint8_t* in, DWORD inLen, std::uint8_t* out,
              DWORD* pOutLen) {
  return ContextUpdate(OfKind(ctx, 1), in, inLen, out, pOutLen);
}
int desfinal(MR_DES_CTX* ctx, std::uint8_t* out, DWORD* pOutLen) {
  return ContextFinal(OfKind(ctx, 1), out, pOutLen);
}
int des3update(MR_DES_CTX* ctx, const std::uint8_t* in, DWORD inLen, std::uint8_t* out,
               DWORD* pOutLen) {
  return ContextUpdate(OfKind(ctx, 3), in, inLen, out, pOutLen);
}
int des3final(MR_DES_CTX* ctx, std::uint8_t* out, DWORD* pOutLen) {
  return ContextFinal(OfKind(ctx, 3), out, pOutLen);
}

}  // namespace merro::crypto
