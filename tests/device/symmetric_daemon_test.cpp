// The symmetric contexts of the device object against the daemon: which
// algorithms, modes, directions and key lengths open a context, known
// answers of the standards through Init / Update / Final in both
// directions, and the rule that Final always ends the context.
#include <memory>
#include <string>
#include <vector>

#include "tests/device/device_daemon_fixture.h"
#include "tests/support/cipher_pieces.h"
#include "tests/tokenapi/crypto/test_bytes.h"
#include "tests/tokenapi/crypto/vec_file.h"
#include "tokenapi/api/token_api.h"

namespace merro::testing {
namespace {

using crypto::test::Bytes;
using crypto::test::FromHex;
using crypto::test::VecCase;

// A buffer the device object handed out.
Bytes Take(BYTE* p, DWORD n) {
  const std::unique_ptr<BYTE[]> owner(p);
  return p != nullptr ? Bytes(p, p + n) : Bytes();
}

class Symmetric : public PreparedDevices {
 protected:
  // Init, one update per piece (the rest as the last), Final; the outputs
  // in order. The first failing step's result goes to *hr.
  Bytes Run(ALG_ID alg, DWORD mode, int direction, const Bytes& key, const Bytes* iv,
            const Bytes& in, std::vector<size_t> pieces, HRESULT* hr) {
    SYMKEY_HANDLE* ctx = nullptr;
    *hr = m_handle.SymKeyHandleInit(m_dev0.c_str(), alg, direction, mode, key.data(),
                                    static_cast<DWORD>(key.size()), iv ? iv->data() : nullptr,
                                    iv ? static_cast<DWORD>(iv->size()) : 0, &ctx);
    if (*hr != S_OK) {
      return {};
    }
    Bytes out;
    *hr = FeedInPieces(in, pieces, &out, [&](const BYTE* pbyIn, DWORD n, BYTE** pp, DWORD* pn) {
      const HRESULT hrUpdate = m_handle.SymKeyHandleUpdate(ctx, pbyIn, n, pp, pn);
      EXPECT_TRUE(hrUpdate != S_OK || *pn <= n + 64);
      return hrUpdate;
    });
    if (*hr != S_OK) {
      BYTE* p = nullptr;
      DWORD len = 0;
      m_handle.SymKeyHandleFinal(ctx, &p, &len);
      delete[] p;
      return {};
    }
    BYTE* p = nullptr;
    DWORD len = 0;
    *hr = m_handle.SymKeyHandleFinal(ctx, &p, &len);
    const Bytes last = Take(p, len);
    out.insert(out.end(), last.begin(), last.end());
    return out;
  }
};

TEST_F(Symmetric, WhichContextsOpen) {
  const Bytes key(24, 0x5A);
  const Bytes iv(8, 0x11);
  const struct {
    const char* what;
    ALG_ID alg;
    DWORD mode;
    int direction;
    size_t keyLen;
    const Bytes* iv;
    size_t ivLen;
    HRESULT result;
  } cases[] = {
      {"DES CBC encrypt", CALG_DES, CRYPT_MODE_CBC, 1, 8, &iv, 8, S_OK},
      {"DES ECB decrypt", CALG_DES, CRYPT_MODE_ECB, 2, 8, nullptr, 0, S_OK},
      {"3DES CBC decrypt", CALG_3DES, CRYPT_MODE_CBC, 2, 24, &iv, 8, S_OK},
      {"RC4 mode 0", CALG_RC4, 0, 1, 16, nullptr, 0, S_OK},
      {"RC4 mode CBC", CALG_RC4, CRYPT_MODE_CBC, 2, 16, nullptr, 0, S_OK},
      {"RC2", CALG_RC2, CRYPT_MODE_CBC, 1, 16, &iv, 8, NTE_BAD_ALGID},
      {"two-key 3DES", CALG_3DES_112, CRYPT_MODE_CBC, 1, 16, &iv, 8, NTE_BAD_ALGID},
      {"DES mode 0", CALG_DES, 0, 1, 8, nullptr, 0, NTE_BAD_ALGID},
      {"DES OFB", CALG_DES, CRYPT_MODE_OFB, 1, 8, nullptr, 0, NTE_BAD_ALGID},
      {"direction 3", CALG_DES, CRYPT_MODE_CBC, 3, 8, &iv, 8, E_INVALIDARG},
      {"direction 0", CALG_DES, CRYPT_MODE_CBC, 0, 8, &iv, 8, E_INVALIDARG},
      {"DES key of 7", CALG_DES, CRYPT_MODE_ECB, 1, 7, nullptr, 0, E_INVALIDARG},
      {"3DES key of 16", CALG_3DES, CRYPT_MODE_ECB, 1, 16, nullptr, 0, E_INVALIDARG},
      {"RC4 40-bit key", CALG_RC4, 0, 1, 5, nullptr, 0, E_INVALIDARG},
      {"IV of 4", CALG_DES, CRYPT_MODE_CBC, 1, 8, &iv, 4, E_INVALIDARG},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    SYMKEY_HANDLE* ctx = nullptr;
    EXPECT_EQ(m_handle.SymKeyHandleInit(m_dev0.c_str(), c.alg, c.direction, c.mode, key.data(),
                                        static_cast<DWORD>(c.keyLen),
                                        c.iv ? c.iv->data() : nullptr,
                                        static_cast<DWORD>(c.ivLen), &ctx),
              c.result);
    EXPECT_EQ(ctx != nullptr, c.result == S_OK);
    if (ctx != nullptr) {
      BYTE* p = nullptr;
      DWORD len = 0;
      EXPECT_EQ(m_handle.SymKeyHandleFinal(ctx, &p, &len), S_OK);
      delete[] p;
    }
  }
  SYMKEY_HANDLE* ctx = nullptr;
  EXPECT_EQ(m_handle.SymKeyHandleInit(nullptr, CALG_DES, 1, CRYPT_MODE_ECB, key.data(), 8,
                                      nullptr, 0, &ctx), E_INVALIDARG);
  EXPECT_EQ(m_handle.SymKeyHandleInit(m_dev0.c_str(), CALG_DES, 1, CRYPT_MODE_ECB, nullptr, 8,
                                      nullptr, 0, &ctx), E_INVALIDARG);
  EXPECT_EQ(m_handle.SymKeyHandleInit(m_dev0.c_str(), CALG_DES, 1, CRYPT_MODE_ECB, key.data(), 8,
                                      nullptr, 0, nullptr), E_INVALIDARG);
  EXPECT_EQ(m_handle.SymKeyHandleInit(m_gone.c_str(), CALG_DES, 1,
                                      CRYPT_MODE_ECB, key.data(), 8, nullptr, 0, &ctx),
            NTE_BAD_KEYSET);
  EXPECT_EQ(ctx, nullptr);
}

std::vector<VecCase> Load(const char* file) {
  std::string error;
  std::vector<VecCase> cases = crypto::test::LoadVecFile(file, &error);
  EXPECT_EQ(error, "");
  EXPECT_FALSE(cases.empty()) << file;
  return cases;
}

// The block ciphers: the vector's output, then one padding block; its
// decryption gives the input back. Fed with an 8-byte update first, so the
// padding and the held-back block cross an update.
TEST_F(Symmetric, BlockCipherKnownAnswers) {
  const struct {
    const char* header;
    ALG_ID alg;
    DWORD mode;
  } setups[] = {{"DES-ECB", CALG_DES, CRYPT_MODE_ECB},
                {"DES-CBC", CALG_DES, CRYPT_MODE_CBC},
                {"3DES-ECB", CALG_3DES, CRYPT_MODE_ECB},
                {"3DES-CBC", CALG_3DES, CRYPT_MODE_CBC}};
  int checked = 0;
  for (const char* file : {"des.vec", "tdes.vec"}) {
    for (const VecCase& c : Load(file)) {
      for (const auto& setup : setups) {
        if (c.header != setup.header || c.Has("Iterations")) {
          continue;
        }
        SCOPED_TRACE(c.Where());
        const Bytes key = FromHex(c.Get("Key"));
        const Bytes in = FromHex(c.Get("In"));
        const Bytes out = FromHex(c.Get("Out"));
        const Bytes iv = c.Has("IV") ? FromHex(c.Get("IV")) : Bytes();
        const Bytes* ivp = c.Has("IV") ? &iv : nullptr;
        for (const std::vector<size_t>& pieces : {std::vector<size_t>{}, {8}, {3, 8}}) {
          HRESULT hr = E_FAIL;
          const Bytes enc = Run(setup.alg, setup.mode, 1, key, ivp, in, pieces, &hr);
          ASSERT_EQ(hr, S_OK);
          ASSERT_EQ(enc.size(), in.size() + 8);
          EXPECT_EQ(Bytes(enc.begin(), enc.begin() + out.size()), out);
          EXPECT_EQ(Run(setup.alg, setup.mode, 2, key, ivp, enc, pieces, &hr), in);
          EXPECT_EQ(hr, S_OK);
        }
        ++checked;
      }
    }
  }
  EXPECT_EQ(checked, 4);
}

// RC4 with 128-bit keys: the key stream at the vector's offset; decrypting
// gives the zeros back.
TEST_F(Symmetric, Rc4KnownAnswers) {
  int checked = 0;
  for (const VecCase& c : Load("rc4.vec")) {
    const Bytes key = FromHex(c.Get("Key"));
    if (key.size() != 16) {
      continue;
    }
    SCOPED_TRACE(c.Where());
    const Bytes out = FromHex(c.Get("Out"));
    const Bytes zeros(std::stoul(c.Get("Offset")) + out.size(), 0);
    HRESULT hr = E_FAIL;
    const Bytes stream = Run(CALG_RC4, 0, 1, key, nullptr, zeros, {8}, &hr);
    ASSERT_EQ(hr, S_OK);
    ASSERT_EQ(stream.size(), zeros.size());
    EXPECT_EQ(Bytes(stream.end() - out.size(), stream.end()), out);
    EXPECT_EQ(Run(CALG_RC4, CRYPT_MODE_CBC, 2, key, nullptr, stream, {8}, &hr), zeros);
    ++checked;
  }
  EXPECT_GE(checked, 3);
}

// An 8-byte update gets a 72-byte buffer; sizes whose room would wrap are
// refused; Final ends the context even when its own arguments fail.
TEST_F(Symmetric, UpdateAndFinalEdges) {
  const Bytes key(8, 0x23);
  const Bytes data(8, 0x44);
  SYMKEY_HANDLE* ctx = nullptr;
  ASSERT_EQ(m_handle.SymKeyHandleInit(m_dev0.c_str(), CALG_DES, 1, CRYPT_MODE_ECB, key.data(), 8,
                                      nullptr, 0, &ctx), S_OK);
  BYTE* p = nullptr;
  DWORD len = 0;
  EXPECT_EQ(m_handle.SymKeyHandleUpdate(ctx, data.data(), 0xFFFFFFC0u, &p, &len), E_INVALIDARG);
  EXPECT_EQ(m_handle.SymKeyHandleUpdate(ctx, data.data(), 0xFFFFFFFFu, &p, &len), E_INVALIDARG);
  EXPECT_EQ(m_handle.SymKeyHandleUpdate(ctx, data.data(), 0, &p, &len), E_INVALIDARG);
  EXPECT_EQ(m_handle.SymKeyHandleUpdate(ctx, nullptr, 8, &p, &len), E_INVALIDARG);
  EXPECT_EQ(m_handle.SymKeyHandleUpdate(ctx, data.data(), 8, nullptr, &len), E_INVALIDARG);
  EXPECT_EQ(m_handle.SymKeyHandleUpdate(nullptr, data.data(), 8, &p, &len), E_INVALIDARG);
  EXPECT_EQ(p, nullptr);
  ASSERT_EQ(m_handle.SymKeyHandleUpdate(ctx, data.data(), 8, &p, &len), S_OK);
  EXPECT_EQ(len, 8u);
  // The buffer has the room the token API was offered (72): all of it is
  // writable, the tail still zero.
  EXPECT_EQ(Bytes(p + 8, p + 72), Bytes(64, 0));
  const Bytes sealed = Take(p, len);  // decrypts to eight 0x44: no valid padding
  p = nullptr;

  // Final with no place for its output: refused, yet the context is gone.
  const size_t finals = m_trace.Entries("mr_SymKeyFinal");
  EXPECT_EQ(m_handle.SymKeyHandleFinal(ctx, nullptr, &len), E_INVALIDARG);
  EXPECT_EQ(m_trace.Entries("mr_SymKeyFinal"), finals + 1);
  EXPECT_EQ(m_handle.SymKeyHandleFinal(nullptr, &p, &len), E_INVALIDARG);
  EXPECT_EQ(p, nullptr);

  // A decryption whose padding is wrong fails in Final, and ends there too.
  ASSERT_EQ(m_handle.SymKeyHandleInit(m_dev0.c_str(), CALG_DES, 2, CRYPT_MODE_ECB, key.data(), 8,
                                      nullptr, 0, &ctx), S_OK);
  ASSERT_EQ(m_handle.SymKeyHandleUpdate(ctx, sealed.data(), 8, &p, &len), S_OK);
  EXPECT_EQ(len, 0u);  // the last block waits for Final
  delete[] p;
  p = nullptr;
  EXPECT_NE(m_handle.SymKeyHandleFinal(ctx, &p, &len), S_OK);
  EXPECT_EQ(p, nullptr);
  EXPECT_EQ(m_trace.Entries("mr_SymKeyFinal"), finals + 2);
}

}  // namespace
}  // namespace merro::testing
