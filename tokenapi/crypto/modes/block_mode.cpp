#include "tokenapi/crypto/modes/block_mode.h"

#include <cstring>

#include "tokenapi/crypto/common/bytes.h"
#include "tokenapi/crypto/modes/padding.h"

namespace merro::crypto {

namespace {
// dst = a XOR b over n bytes (n is 8 or 16), eight bytes at a time.
inline void XorInto(std::uint8_t* dst, const std::uint8_t* a, const std::uint8_t* b,
                    std::size_t n) {
  for (std::size_t i = 0; i < n && i < kMaxCipherBlockBytes; i += 8) {
    std::uint64_t x;
    std::uint64_t y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    x ^= y;
    std::memcpy(dst + i, &x, 8);
  }
}
}  // namespace

void BlockMode::Start(const BlockCipher& cipher, Chaining chaining, Direction direction,
                      const std::uint8_t* iv) {
  Clear();
  m_blockBytes = cipher.BlockBytes();
  m_chaining = chaining;
  m_direction = direction;
  if (iv != nullptr) {
    std::memcpy(m_chain, iv, m_blockBytes);
  }
  m_started = true;
}

void BlockMode::Clear() {
  SecureWipe(m_chain, sizeof(m_chain));
  SecureWipe(m_pending, sizeof(m_pending));
  m_pendingCount = 0;
  m_started = false;
}

std::size_t BlockMode::UpdateOutputLength(std::size_t len) const {
  if (!m_started) {
    return 0;
  }
  const std::size_t total = m_pendingCount + len;
  std::size_t keep = total % m_blockBytes;
  if (m_direction == Direction::kDecrypt && total != 0 && keep == 0) {
    keep = m_blockBytes;  // the last whole block waits for Final
  }
  return total - keep;
}

void BlockMode::RunBlock(const BlockCipher& cipher, const std::uint8_t* in, std::uint8_t* out) {
  const std::size_t b = m_blockBytes;
  if (m_chaining == Chaining::kEcb) {
    cipher.ProcessBlock(in, out);
  } else if (m_direction == Direction::kEncrypt) {
    std::uint8_t x[kMaxCipherBlockBytes];
    XorInto(x, in, m_chain, b);
    cipher.ProcessBlock(x, out);
    std::memcpy(m_chain, out, b);
  } else {
    std::uint8_t c[kMaxCipherBlockBytes];
    std::memcpy(c, in, b);  // in and out may be one buffer
    cipher.ProcessBlock(c, out);
    XorInto(out, out, m_chain, b);
    std::memcpy(m_chain, c, b);
  }
}

ModeResult BlockMode::Update(const BlockCipher& cipher, const std::uint8_t* in, std::size_t len,
                             std::uint8_t* out, std::size_t capacity, std::size_t* written) {
  *written = 0;
  if (!m_started) {
    return ModeResult::kNotStarted;
  }
  const std::size_t b = m_blockBytes;
  const std::size_t emit = UpdateOutputLength(len);
  if (emit > capacity) {
    *written = emit;
    return ModeResult::kBufferTooSmall;
  }
  if (emit == 0) {
    if (len != 0) {
      std::memcpy(m_pending + m_pendingCount, in, len);
      m_pendingCount += len;
    }
    return ModeResult::kOk;
  }

  // The last `keep` input bytes wait for the next call. They are set aside
  // first: with waiting bytes in front, the output runs ahead of the input
  // it consumes, and in-place output would overwrite them.
  const std::size_t keep = m_pendingCount + len - emit;
  std::uint8_t tail[kMaxCipherBlockBytes];
  std::memcpy(tail, in + len - keep, keep);

  if (m_pendingCount == 0) {
    for (std::size_t done = 0; done < emit; done += b) {
      RunBlock(cipher, in + done, out + done);
    }
  } else {
    // Complete the waiting block (a held block needs no more bytes), then
    // read every input block before the block in front of it is written.
    std::uint8_t cur[kMaxCipherBlockBytes];
    std::uint8_t next[kMaxCipherBlockBytes];
    const std::size_t take = b - m_pendingCount;
    std::memcpy(cur, m_pending, m_pendingCount);
    std::memcpy(cur + m_pendingCount, in, take);
    const std::uint8_t* src = in + take;
    for (std::size_t done = 0;;) {
      const bool more = done + b < emit;
      if (more) {
        std::memcpy(next, src, b);
        src += b;
      }
      RunBlock(cipher, cur, out + done);
      done += b;
      if (!more) {
        break;
      }
      std::memcpy(cur, next, b);
    }
    SecureWipe(cur, sizeof(cur));
    SecureWipe(next, sizeof(next));
  }
  std::memcpy(m_pending, tail, keep);
  m_pendingCount = keep;
  SecureWipe(tail, sizeof(tail));
  *written = emit;
  return ModeResult::kOk;
}

ModeResult BlockMode::Final(const BlockCipher& cipher, std::uint8_t* out, std::size_t capacity,
                            std::size_t* written) {
  *written = 0;
  if (!m_started) {
    return ModeResult::kNotStarted;
  }
  const std::size_t b = m_blockBytes;
  ModeResult result = ModeResult::kOk;
  if (m_direction == Direction::kEncrypt) {
    const std::size_t needed = (m_pendingCount == b) ? 2 * b : b;
    if (needed > capacity) {
      *written = needed;
      return ModeResult::kBufferTooSmall;
    }
    std::size_t at = 0;
    if (m_pendingCount == b) {
      RunBlock(cipher, m_pending, out);
      m_pendingCount = 0;
      at = b;
    }
    AddPkcsPadding(m_pending, m_pendingCount, b);
    RunBlock(cipher, m_pending, out + at);
    *written = needed;
  } else if (m_pendingCount == 0) {
    // No data at all: nothing to write.
  } else if (m_pendingCount != b) {
    result = ModeResult::kBadLength;
  } else {
    std::uint8_t work[kMaxCipherBlockBytes];
    RunBlock(cipher, m_pending, work);
    const std::size_t n = PkcsUnpaddedLength(work, b);
    if (n == kPaddingInvalid) {
      result = ModeResult::kBadPadding;
    } else if (n > capacity) {
      *written = n;
      result = ModeResult::kBufferTooSmall;
    } else {
      std::memcpy(out, work, n);
      *written = n;
    }
    SecureWipe(work, sizeof(work));
  }
  Clear();
  return result;
}

}  // namespace merro::crypto
