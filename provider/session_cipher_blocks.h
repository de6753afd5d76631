// The block bookkeeping of a session-key cipher that runs across
// CPEncrypt / CPDecrypt calls, kept between the calls by the key it runs on.
//
// An encryption knows its exact output length before it ciphers: the whole
// blocks of what the running cipher holds back and of this input, and with
// Final the padding block. So the held-back byte count is kept here.
//
// A block cipher's decryption holds the last whole block it was given back
// until it knows whether that block ends the message (its padding is
// stripped then). Yet each call's plaintext goes into that call's buffer,
// which holds its ciphertext and no more: a last call that also gave back
// the block held from the call before would not fit. So a decryption call
// without Final takes whole blocks only, and feeds the cipher a second copy
// of its last block after them (the spare block): the cipher gives back
// every block of the call's data and holds the copy instead. The copy chains
// onto itself, so the chaining stays as the data left it; the block it gives
// at the next call decrypts nothing of the caller's and is dropped.
#pragma once

#include <windows.h>

#include "foundation/secret_bytes.h"

namespace merro::provider {

class SessionCipherBlocks {
 public:
  // A cipher starts or has ended: nothing held back, no spare block given.
  void Reset() {
    m_dwHeldBackBytes = 0;
    m_dwSpareBlockBytes = 0;
  }

  // What an encryption writes for dwDataLen more input bytes with a cipher
  // of dwBlockBytes (1 or less: a stream cipher, as long as its input).
  // bRunning: a cipher runs, so what it holds back counts.
  ULONGLONG EncryptedLength(DWORD dwBlockBytes, DWORD dwDataLen, bool bFinal,
                            bool bRunning) const;

  // Whether a call feeds the spare block after its data: a block cipher's
  // decryption without Final.
  static bool FeedsSpareBlock(bool bDecrypting, DWORD dwBlockBytes, bool bFinal) {
    return bDecrypting && !bFinal && dwBlockBytes > 1;
  }
  // The data of such a call with the copy of its last block after it, in
  // *pFed; the data must be whole blocks. False when memory ran out.
  static bool WithSpareBlock(const BYTE* pbData, DWORD dwDataLen, DWORD dwBlockBytes,
                             SecretBytes* pFed);

  // A call fed the cipher dwDataLen bytes of the caller's data (and the
  // spare block after them when bSpareBlockFed), and the cipher gave
  // dwOutputBytes. The result: how many bytes at the start of that output
  // the spare block of the call before gave, to be dropped.
  DWORD InputFed(DWORD dwBlockBytes, DWORD dwDataLen, bool bSpareBlockFed, DWORD dwOutputBytes);

 private:
  // Input bytes the running cipher holds back for its next block (all input
  // since its start, modulo the block length).
  DWORD m_dwHeldBackBytes = 0;
  // Bytes at the start of a running decryption's next output that the
  // spare block fed at the call before gives.
  DWORD m_dwSpareBlockBytes = 0;
};

}  // namespace merro::provider
