// The one ECB/CBC engine of the host block ciphers (DES, triple DES, SM4).
//
// It keeps the chaining value and the bytes waiting for a full block across
// updates, so input may arrive in any split. The rules:
// - Update writes whole blocks only. Encrypting, it keeps back the 0 to B-1
//   bytes that do not fill a block. Decrypting, it also keeps back the last
//   whole block of the input seen so far (it may carry the padding), so a
//   decrypting update writes one block less than it could.
// - Final when encrypting pads the waiting bytes with PKCS#7 and writes one
//   block. Final when decrypting writes nothing when nothing waits, fails
//   when the waiting bytes are not one whole block, else decrypts the block,
//   checks and strips the padding and writes the 0 to B-1 data bytes.
// - ECB transforms each block alone; CBC chains through the value set at
//   Start (the IV), carried over from call to call.
// Output may be the same buffer as the input, or start before it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "tokenapi/crypto/modes/block_cipher.h"

namespace merro::crypto {

enum class ModeResult {
  kOk,
  kBufferTooSmall,  // *written holds the number of bytes needed
  kBadLength,       // decrypting final: the input was not whole blocks
  kBadPadding,      // decrypting final: the last block's padding is wrong
  kNotStarted,      // used before Start, or after Final
};

enum class Chaining { kEcb, kCbc };
enum class Direction { kEncrypt, kDecrypt };

class BlockMode {
 public:
  BlockMode() = default;
  ~BlockMode() { Clear(); }
  BlockMode(const BlockMode&) = delete;
  BlockMode& operator=(const BlockMode&) = delete;

  // Sets chaining, direction and the chaining value (the first block-size
  // bytes of iv, zeros when iv is null; stored but unused in ECB), and
  // empties the waiting block.
  void Start(const BlockCipher& cipher, Chaining chaining, Direction direction,
             const std::uint8_t* iv);
  bool Started() const { return m_started; }
  Direction GetDirection() const { return m_direction; }

  // The exact number of bytes the next Update with len input bytes writes.
  std::size_t UpdateOutputLength(std::size_t len) const;

  // Processes len bytes into out, which has room for capacity bytes.
  // Nothing changes when the room is short.
  ModeResult Update(const BlockCipher& cipher, const std::uint8_t* in, std::size_t len,
                    std::uint8_t* out, std::size_t capacity, std::size_t* written);
  // Ends the message (see above); afterwards the engine is cleared and must
  // be started again before further use.
  ModeResult Final(const BlockCipher& cipher, std::uint8_t* out, std::size_t capacity,
                   std::size_t* written);

  // Wipes the chaining value and the waiting bytes.
  void Clear();

 private:
  // Runs one block through the cipher in the chosen chaining.
  void RunBlock(const BlockCipher& cipher, const std::uint8_t* in, std::uint8_t* out);

  std::uint8_t m_chain[kMaxCipherBlockBytes] = {};
  std::uint8_t m_pending[kMaxCipherBlockBytes] = {};
  std::size_t m_pendingCount = 0;
  std::size_t m_blockBytes = 0;
  Chaining m_chaining = Chaining::kCbc;
  Direction m_direction = Direction::kEncrypt;
  bool m_started = false;
};

// A cipher context that is its own block cipher and carries its engine.
class ModeCipherContext : public BlockCipher {
 public:
  ModeCipherContext() = default;
  ModeCipherContext(const ModeCipherContext&) = delete;
  ModeCipherContext& operator=(const ModeCipherContext&) = delete;

  BlockMode mode;
};

}  // namespace merro::crypto
