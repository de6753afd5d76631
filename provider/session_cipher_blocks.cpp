// SessionCipherBlocks: the lengths of a session-key cipher's blocks across calls.
#include "provider/session_cipher_blocks.h"

#include <algorithm>
#include <climits>
#include <cstring>

namespace merro::provider {

ULONGLONG SessionCipherBlocks::EncryptedLength(DWORD dwBlockBytes, DWORD dwDataLen, bool bFinal,
                                               bool bRunning) const {
  const ULONGLONG ullBlock = dwBlockBytes;
  if (ullBlock <= 1) {
    return dwDataLen;  // a stream cipher: as long as its input
  }
  const ULONGLONG ullHeld = bRunning ? m_dwHeldBackBytes : 0;
  const ULONGLONG ullWhole = (ullHeld + dwDataLen) / ullBlock * ullBlock;
  return bFinal ? ullWhole + ullBlock : ullWhole;
}

bool SessionCipherBlocks::WithSpareBlock(const BYTE* pbData, DWORD dwDataLen, DWORD dwBlockBytes,
                                         SecretBytes* pFed) {
  if (ULONGLONG{dwDataLen} + dwBlockBytes > ULONG_MAX || !pFed->Allocate(dwDataLen + dwBlockBytes)) {
    return false;
  }
  std::memcpy(pFed->get(), pbData, dwDataLen);
  std::memcpy(pFed->get() + dwDataLen, pbData + dwDataLen - dwBlockBytes, dwBlockBytes);
  return true;
}

DWORD SessionCipherBlocks::InputFed(DWORD dwBlockBytes, DWORD dwDataLen, bool bSpareBlockFed,
                                    DWORD dwOutputBytes) {
  const DWORD dwDropped = std::min(m_dwSpareBlockBytes, dwOutputBytes);
  m_dwSpareBlockBytes = bSpareBlockFed ? dwBlockBytes : 0;
  m_dwHeldBackBytes =
      dwBlockBytes <= 1
          ? 0
          : static_cast<DWORD>((ULONGLONG{m_dwHeldBackBytes} + dwDataLen) % dwBlockBytes);
  return dwDropped;
}

}  // namespace merro::provider
