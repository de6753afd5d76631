// Feeds a cipher its input in pieces, for the tests of the layers that run
// symmetric ciphers in init / update / final steps.
#pragma once

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

#include "foundation/platform.h"

namespace merro::testing {

// One update call per entry of `pieces` (that many bytes, cut at the end of
// the input; empty pieces are skipped), then one for the rest. `update` is
// called as update(const BYTE* in, DWORD n, BYTE** out, DWORD* outLen) and
// hands out an array-new buffer; each output is appended to *pOut and
// freed. The first failing update's result is returned, S_OK otherwise.
template <typename Update>
HRESULT FeedInPieces(const std::vector<std::uint8_t>& in, std::vector<size_t> pieces,
                     std::vector<std::uint8_t>* pOut, Update update) {
  size_t at = 0;
  pieces.push_back(in.size());
  for (size_t piece : pieces) {
    const size_t n = std::min(piece, in.size() - at);
    if (n == 0) {
      continue;
    }
    BYTE* p = nullptr;
    DWORD len = 0;
    const HRESULT hr = update(in.data() + at, static_cast<DWORD>(n), &p, &len);
    const std::unique_ptr<BYTE[]> owner(p);
    if (hr != S_OK) {
      return hr;
    }
    if (p != nullptr) {
      pOut->insert(pOut->end(), p, p + len);
    }
    at += n;
  }
  return S_OK;
}

}  // namespace merro::testing
