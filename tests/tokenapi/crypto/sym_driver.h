// Drives whole messages through the software cipher and hash contexts, fed
// in pieces, for the crypto tests.
#pragma once

#include <cstdint>
#include <random>
#include <vector>

#include "foundation/platform.h"
#include "tests/tokenapi/crypto/test_bytes.h"

namespace merro::crypto::test {

struct SymRun {
  HRESULT hr = 0;       // first failure, or 0
  const char* step = "";  // "init", "update" or "final" for a failure
  Bytes out;            // everything written, update and final outputs in order
  std::vector<DWORD> written;  // bytes written by each update, then by the final
};

// Encrypts or decrypts `in` with a fresh context, one update per piece
// (piece sizes in `pieces`, the remainder as a last update), then the final.
// Every call is offered more room than it needs.
SymRun RunSym(BYTE algorithm, BYTE mode, bool encrypt, const Bytes& key, const Bytes* iv,
              const Bytes& in, const std::vector<size_t>& pieces = {});

// The digest of `in` through Hash_Init / Hash_Update / Hash_Final, fed in
// the given pieces (the remainder as a last update).
Bytes RunHash(BYTE hashType, const Bytes& in, const std::vector<size_t>& pieces = {});

// Up to `count` random cut points splitting a message of `len` bytes.
std::vector<size_t> RandomPieces(std::mt19937& rng, size_t len, int count);

Bytes RandomBytes(std::mt19937& rng, size_t len);

}  // namespace merro::crypto::test
