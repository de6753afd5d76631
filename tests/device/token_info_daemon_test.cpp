// The token's name, its version and random data through the device object,
// against the daemon: token 0 initialised, token 1 provisioned only (no
// file system), token 2 pulled.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "tests/device/device_daemon_fixture.h"
#include "tokenapi/api/token_api.h"

namespace merro::testing {
namespace {

class TokenInfo : public PreparedDevices {
 protected:
  // The name read back, up to the zero of its buffer.
  std::string ReadName(const std::string& dev, HRESULT* hr) {
    char* name = nullptr;
    *hr = m_handle.GetDeviceTokenInfo(dev.c_str(), &name);
    const std::unique_ptr<char[]> owner(name);
    return name != nullptr ? std::string(name) : std::string();
  }
};

TEST_F(TokenInfo, NameRoundTripsWithinItsField) {
  HRESULT hr = E_FAIL;
  ASSERT_EQ(m_handle.SetDeviceTokenInfo(m_dev0.c_str(), "Merro Key1"), S_OK);
  EXPECT_EQ(ReadName(m_dev0, &hr), "Merro Key1");
  EXPECT_EQ(hr, S_OK);

  const std::string full(32, 'N');
  ASSERT_EQ(m_handle.SetDeviceTokenInfo(m_dev0.c_str(), full.c_str()), S_OK);
  EXPECT_EQ(ReadName(m_dev0, &hr), full);

  // One byte over the field: refused by the token API, the name stays.
  const std::string over(33, 'O');
  EXPECT_EQ(m_handle.SetDeviceTokenInfo(m_dev0.c_str(), over.c_str()),
            static_cast<HRESULT>(0x80070004));
  EXPECT_EQ(ReadName(m_dev0, &hr), full);

  // The name is its own record: the label of the device item is untouched.
  const std::string label = m_handle.m_vtrDeviceSet[0].szDeviceLabel;
  ASSERT_EQ(m_handle.UpdateDevice(), S_OK);
  EXPECT_EQ(std::string(m_handle.m_vtrDeviceSet[0].szDeviceLabel), label);
}

TEST_F(TokenInfo, NameFailures) {
  HRESULT hr = S_OK;
  // No file system on token 1: the token's "file not found", folded.
  EXPECT_EQ(ReadName(m_dev1, &hr), "");
  EXPECT_EQ(hr, static_cast<HRESULT>(0x80006A82));
  EXPECT_TRUE(m_trace.HasFailureLine("DeviceHandle::GetDeviceTokenInfo", "GetTokenName"));

  char* out = nullptr;
  EXPECT_EQ(m_handle.GetDeviceTokenInfo(m_gone.c_str(), &out), NTE_BAD_KEYSET);
  EXPECT_EQ(m_handle.SetDeviceTokenInfo(m_gone.c_str(), "x"), NTE_BAD_KEYSET);
  EXPECT_EQ(m_handle.GetDeviceCosVer(m_gone.c_str(), &out), NTE_BAD_KEYSET);
  EXPECT_EQ(m_handle.GetDeviceTokenInfo(nullptr, &out), E_INVALIDARG);
  EXPECT_EQ(m_handle.GetDeviceTokenInfo(m_dev0.c_str(), nullptr), E_INVALIDARG);
  EXPECT_EQ(m_handle.SetDeviceTokenInfo(m_dev0.c_str(), nullptr), E_INVALIDARG);
  EXPECT_EQ(m_handle.GetDeviceCosVer(m_dev0.c_str(), nullptr), E_INVALIDARG);
  EXPECT_EQ(out, nullptr);
}

TEST_F(TokenInfo, CosVersionIsSixteenBytes) {
  char* version = nullptr;
  ASSERT_EQ(m_handle.GetDeviceCosVer(m_dev0.c_str(), &version), S_OK);
  const std::unique_ptr<char[]> owner(version);
  const char expected[16] = {'V', '3', '.', '0', '2'};
  EXPECT_EQ(std::memcmp(version, expected, sizeof expected), 0);
}

// Random data: the host generator, in pieces of at most 128 bytes. The
// recorder runs the token API's call and notes each piece; it can fail the
// piece numbered g_failPiece.
std::vector<int> g_pieces;
int g_failPiece = -1;
HRESULT RecordingRandom(DEV_CTX* ctx, BYTE flag, BYTE len, BYTE* out) {
  g_pieces.push_back(len);
  EXPECT_EQ(flag, RANDOM_FLAG_SOFT);
  if (static_cast<int>(g_pieces.size()) - 1 == g_failPiece) {
    return static_cast<HRESULT>(0x80000010);
  }
  return GenerateRandom(ctx, flag, len, out);
}

class RandomData : public TokenInfo {
 protected:
  void SetUp() override {
    TokenInfo::SetUp();
    g_pieces.clear();
    g_failPiece = -1;
    m_handle.SetRandomSource(RecordingRandom);
  }
};

TEST_F(RandomData, AnyLengthIsFilledInPieces) {
  const struct {
    int size;
    std::vector<int> pieces;
  } cases[] = {{1, {1}},
               {128, {128}},
               {129, {128, 1}},
               {257, {128, 128, 1}},
               {1000, {128, 128, 128, 128, 128, 128, 128, 104}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    g_pieces.clear();
    // The generator gives bytes 1 to 254: a 0 left means a byte not filled.
    std::vector<BYTE> buffer(c.size + 16, 0);
    ASSERT_EQ(m_handle.GenerateRandomData(m_dev0.c_str(), 2, c.size, buffer.data()), S_OK);
    EXPECT_EQ(g_pieces, c.pieces);
    EXPECT_EQ(std::count(buffer.begin(), buffer.begin() + c.size, 0), 0);
    EXPECT_EQ(std::count(buffer.begin() + c.size, buffer.end(), 0), 16);  // nothing beyond
    if (c.size > 1) {
      EXPECT_NE(std::count(buffer.begin(), buffer.begin() + c.size, buffer[0]), c.size);
    }
  }
}

TEST_F(RandomData, AFailedPieceWipesTheWholeBuffer) {
  g_failPiece = 1;
  std::vector<BYTE> buffer(300, 0xEE);
  EXPECT_EQ(m_handle.GenerateRandomData(m_dev0.c_str(), 2, 300, buffer.data()), E_FAIL);
  EXPECT_EQ(g_pieces, (std::vector<int>{128, 128}));
  EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0), 300);
  EXPECT_TRUE(m_trace.HasFailureLine("DeviceHandle::GenerateRandomData", "GenerateRandom"));
}

TEST_F(RandomData, RefusedBeforeTheTokenIsReached) {
  std::vector<BYTE> buffer(8, 0xEE);
  EXPECT_EQ(m_handle.GenerateRandomData(m_dev0.c_str(), 2, 0, buffer.data()), E_INVALIDARG);
  EXPECT_EQ(m_handle.GenerateRandomData(m_dev0.c_str(), 2, -5, buffer.data()), E_INVALIDARG);
  EXPECT_EQ(m_handle.GenerateRandomData(m_dev0.c_str(), 2, 8, nullptr), E_INVALIDARG);
  EXPECT_EQ(m_handle.GenerateRandomData(nullptr, 2, 8, buffer.data()), E_INVALIDARG);
  EXPECT_EQ(m_handle.GenerateRandomData(m_gone.c_str(), 2, 8, buffer.data()), NTE_BAD_KEYSET);
  EXPECT_TRUE(g_pieces.empty());
  EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0xEE), 8);
}

}  // namespace
}  // namespace merro::testing
