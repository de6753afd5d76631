#include "tests/tokenapi/crypto/sym_driver.h"

#include <algorithm>

#include "tokenapi/crypto/contexts/hash.h"
#include "tokenapi/crypto/contexts/symkey.h"

namespace merro::crypto::test {

namespace {
constexpr size_t kMaxBlock = 16;
}

SymRun RunSym(BYTE algorithm, BYTE mode, bool encrypt, const Bytes& key, const Bytes* iv,
              const Bytes& in, const std::vector<size_t>& pieces) {
  SymRun run;
  SYMKEY_CTX* ctx = nullptr;
  const BYTE* ivData = iv != nullptr ? iv->data() : nullptr;
  run.hr = encrypt ? SymEncryptInit(&ctx, algorithm, mode, key.data(), ivData)
                   : SymDecryptInit(&ctx, algorithm, mode, key.data(), ivData);
  if (run.hr != 0) {
    run.step = "init";
    return run;
  }
  size_t at = 0;
  std::vector<size_t> sizes = pieces;
  sizes.push_back(in.size());  // the remainder
  for (size_t s : sizes) {
    const size_t n = std::min(s, in.size() - at);
    Bytes out(n + kMaxBlock);
    DWORD room = static_cast<DWORD>(out.size());
    // A null-free pointer even for an empty piece.
    const BYTE dummy = 0;
    const BYTE* src = n != 0 ? in.data() + at : &dummy;
    const HRESULT hr = encrypt ? SymEncryptUpdate(ctx, src, static_cast<DWORD>(n), out.data(), &room)
                               : SymDecryptUpdate(ctx, src, static_cast<DWORD>(n), out.data(), &room);
    if (hr != 0) {
      SymCipherFinal(ctx, out.data(), &room);  // ends the context
      run.hr = hr;
      run.step = "update";
      return run;
    }
    run.written.push_back(room);
    run.out.insert(run.out.end(), out.begin(), out.begin() + room);
    at += n;
  }
  Bytes last(kMaxBlock * 2);
  DWORD room = static_cast<DWORD>(last.size());
  run.hr = encrypt ? SymEncryptFinal(ctx, last.data(), &room)
                   : SymDecryptFinal(ctx, last.data(), &room);
  if (run.hr != 0) {
    run.step = "final";
    return run;
  }
  run.written.push_back(room);
  run.out.insert(run.out.end(), last.begin(), last.begin() + room);
  return run;
}

Bytes RunHash(BYTE hashType, const Bytes& in, const std::vector<size_t>& pieces) {
  HASH_CTX* ctx = nullptr;
  if (Hash_Init(&ctx, hashType) != 0) {
    return {};
  }
  size_t at = 0;
  std::vector<size_t> sizes = pieces;
  sizes.push_back(in.size());
  const BYTE dummy = 0;
  for (size_t s : sizes) {
    const size_t n = std::min(s, in.size() - at);
    if (Hash_Update(ctx, n != 0 ? in.data() + at : &dummy, static_cast<DWORD>(n)) != 0) {
      Hash_Free(ctx);
      return {};
    }
    at += n;
  }
  Bytes digest(64);
  DWORD len = static_cast<DWORD>(digest.size());
  if (Hash_Final(ctx, digest.data(), &len) != 0) {
    return {};
  }
  digest.resize(len);
  return digest;
}

std::vector<size_t> RandomPieces(std::mt19937& rng, size_t len, int count) {
  std::vector<size_t> pieces;
  size_t left = len;
  for (int i = 0; i < count; ++i) {
    const size_t n = std::uniform_int_distribution<size_t>(0, left)(rng);
    pieces.push_back(n);
    left -= n;
  }
  return pieces;
}

Bytes RandomBytes(std::mt19937& rng, size_t len) {
  Bytes b(len);
  for (auto& x : b) {
    x = static_cast<std::uint8_t>(rng());
  }
  return b;
}

}  // namespace merro::crypto::test
