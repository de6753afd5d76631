#include "tokensim/core/frame_parser.h"

namespace merro::tokensim {

bool IsTokenCdb(const std::uint8_t* cdb, size_t n) {
  if (n != 10 || cdb[0] != 0xFF) {
    return false;
  }
  for (size_t i = 1; i < n; ++i) {
    if (cdb[i] != 0) {
      return false;
    }
  }
  return true;
}

std::uint16_t ParseCommandFrame(const std::uint8_t* frame, size_t n, Command* pCommand) {
  if (frame == nullptr || n < kHeaderLen || n > kMaxFrameLen) {
    return sw::kWrongLength;
  }
  if (frame[0] != kClaPlain && frame[0] != kClaProtected) {
    return sw::kClassUnknown;
  }
  if (frame[4] != n - kHeaderLen) {
    return sw::kWrongLength;
  }
  pCommand->cla = frame[0];
  pCommand->ins = frame[1];
  pCommand->p1 = frame[2];
  pCommand->p2 = frame[3];
  pCommand->lc = frame[4];
  pCommand->le = frame[5];
  pCommand->data.assign(frame + kHeaderLen, frame + n);
  return sw::kOk;
}

}  // namespace merro::tokensim
