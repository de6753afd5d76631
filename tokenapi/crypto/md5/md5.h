// MD5 message digest (RFC 1321).
//
// The context lives on the heap: MD5Init makes it, MD5Final writes the
// digest and frees it. Each routine returns 1 for success and 0 for failure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace merro::crypto {

constexpr std::size_t kMd5BlockBytes = 64;
constexpr std::size_t kMd5DigestBytes = 16;

// RFC 1321, 3.3: state words A, B, C, D; the number of hashed bits modulo
// 2^64, low word first; input waiting for a full block.
struct MR_MD5_CTX {
  std::uint32_t state[4];
  std::uint32_t count[2];
  std::uint8_t buffer[kMd5BlockBytes];
};

// Allocates and initialises a context and stores it in *ppCtx; 0 (nothing
// stored) when ppCtx is null or memory runs out.
int MD5Init(MR_MD5_CTX** ppCtx);
// Hashes len more bytes; 0 when ctx is null, or data is null with len > 0.
int MD5Update(MR_MD5_CTX* ctx, const std::uint8_t* data, std::uint32_t len);
// Pads, writes the 16-byte digest and frees the context (on every path once
// ctx is not null); 0 when ctx or digest is null.
int MD5Final(MR_MD5_CTX* ctx, std::uint8_t* digest);
// Digest of one buffer in one call (the context lives on the stack);
// returns digest, or null when digest is null or data is null with len > 0.
std::uint8_t* MD5Digest(const std::uint8_t* data, std::uint32_t len, std::uint8_t* digest);

// Wipes and frees a context that will not reach MD5Final.
void MD5Free(MR_MD5_CTX* ctx);

struct Md5Deleter {
  void operator()(MR_MD5_CTX* ctx) const { MD5Free(ctx); }
};
using Md5Ptr = std::unique_ptr<MR_MD5_CTX, Md5Deleter>;
}  // namespace merro::crypto
