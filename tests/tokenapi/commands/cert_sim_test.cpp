// Certificates in the container files over the in-process simulator: the
// head and length checks (before anything is written), the flag bit, reads
// with short buffers and damaged files.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "tests/tokenapi/commands/token_files_fixture.h"
#include "tokenapi/commands/cert_commands.h"
#include "tokenapi/commands/container_commands.h"

namespace {

using merro::testing::ByteVec;
using merro::testing::NamedRecord;

constexpr HRESULT kBufferTooSmall = static_cast<HRESULT>(0x80070003);
constexpr HRESULT kBadCertificate = static_cast<HRESULT>(0x80006A80);
constexpr HRESULT kNotCertFile = static_cast<HRESULT>(0x8007020F);

// A certificate of n bytes whose head announces `announced` content bytes.
ByteVec Certificate(size_t n, size_t announced) {
  ByteVec cert(n);
  for (size_t i = 0; i < n; ++i) {
    cert[i] = static_cast<BYTE>(i * 13 + 5);
  }
  cert[0] = 0x30;
  cert[1] = 0x82;
  cert[2] = static_cast<BYTE>(announced >> 8);
  cert[3] = static_cast<BYTE>(announced);
  return cert;
}

class CertSim : public merro::testing::InitialisedTokenTest {
 protected:
  void SetUp() override {
    InitialisedTokenTest::SetUp();
    CONTAINER_RECORD record = NamedRecord("certs");
    ASSERT_EQ(mr_CreateContainer(m_ctx, &record), 0);
  }

  HRESULT Write(WORD fid, const ByteVec& cert) {
    // Exactly the certificate's bytes on the heap: no read beyond them.
    std::unique_ptr<BYTE[]> copy(new BYTE[cert.size()]);
    std::copy(cert.begin(), cert.end(), copy.get());
    return mr_WriteCert(m_ctx, fid, copy.get(), static_cast<DWORD>(cert.size()));
  }
};

TEST_F(CertSim, HeadAndLengthAreCheckedBeforeWriting) {
  const struct {
    const char* name;
    WORD fid;
    ByteVec cert;
    HRESULT result;
  } cases[] = {
      {"1200 bytes announcing 1196", 0xC002, Certificate(1200, 1196), 0},
      {"1200 bytes announcing 1200", 0xC002, Certificate(1200, 1200), kBadCertificate},
      {"1196 bytes announcing 1196", 0xC002, Certificate(1196, 1196), kBadCertificate},
      {"2052 bytes announcing 2048", 0xC008, Certificate(2052, 2048), kBadCertificate},
      {"three bytes", 0xC002, ByteVec{0x30, 0x82, 0x00}, kBadCertificate},
      {"short-form length", 0xC002, [] { ByteVec c = Certificate(260, 256); c[1] = 0x81; return c; }(),
       kBadCertificate},
      {"not a SEQUENCE", 0xC002, [] { ByteVec c = Certificate(1200, 1196); c[0] = 0x31; return c; }(),
       kBadCertificate},
      {"key file id", 0xC001, Certificate(1200, 1196), kNotCertFile},
      {"certificate kind of no container", 0x0042, Certificate(1200, 1196), kNotCertFile},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const ByteVec exch = FileBytes(0xC002, 0, 2048);
    const ByteVec sign = FileBytes(0xC008, 0, 2048);
    const BYTE flag = Record(0).byFlag;
    EXPECT_EQ(Write(c.fid, c.cert), c.result);
    if (c.result != 0) {
      EXPECT_EQ(FileBytes(0xC002, 0, 2048), exch);
      EXPECT_EQ(FileBytes(0xC008, 0, 2048), sign);
      EXPECT_EQ(Record(0).byFlag, flag);
    }
  }
  EXPECT_EQ(FileBytes(0xC002, 0, 1200), Certificate(1200, 1196));
  EXPECT_EQ(Record(0).byFlag, 0x02);
}

TEST_F(CertSim, BothCertificatesSetTheirBitsAndReadBack) {
  const ByteVec exch = Certificate(1196, 1192);
  const ByteVec sign = Certificate(2048, 2044);
  ASSERT_EQ(Write(0xC002, exch), 0);
  ASSERT_EQ(Write(0xC008, sign), 0);
  EXPECT_EQ(Record(0).byFlag, 0x0A);

  ByteVec out(2048, 0xEE);
  DWORD len = 2048;
  ASSERT_EQ(mr_ReadCert(m_ctx, 0xC008, out.data(), &len), 0);
  EXPECT_EQ(len, 2048u);
  EXPECT_EQ(out, sign);

  len = 1195;
  EXPECT_EQ(mr_ReadCert(m_ctx, 0xC002, out.data(), &len), kBufferTooSmall);
  EXPECT_EQ(len, 1196u) << "the size a caller needs";
  len = 0;
  EXPECT_EQ(mr_ReadCert(m_ctx, 0xC002, nullptr, &len), kBufferTooSmall);
  EXPECT_EQ(len, 1196u);
  len = 1196;
  ASSERT_EQ(mr_ReadCert(m_ctx, 0xC002, out.data(), &len), 0);
  EXPECT_EQ(ByteVec(out.begin(), out.begin() + 1196), exch);
}

TEST_F(CertSim, AWriteThatBreaksOffLeavesNoCertificate) {
  // A certificate in place, then a new one whose write fails part-way: the
  // file must not read as a certificate made of both.
  ASSERT_EQ(Write(0xC002, Certificate(1200, 1196)), 0);
  ByteVec newer = Certificate(1000, 996);
  for (auto& b : newer) {
    b = static_cast<BYTE>(b ^ 0x5A);
  }
  newer[0] = 0x30;
  newer[1] = 0x82;
  newer[2] = 0x03;
  newer[3] = 0xE4;
  Control("fault 0 sw 6581 ins 33 skip 3");
  EXPECT_EQ(Write(0xC002, newer), static_cast<HRESULT>(0x80006581));
  ByteVec out(2048);
  DWORD len = 2048;
  EXPECT_EQ(mr_ReadCert(m_ctx, 0xC002, out.data(), &len), kBadCertificate);

  // Written again in full, it reads back whole.
  ASSERT_EQ(Write(0xC002, newer), 0);
  len = 2048;
  ASSERT_EQ(mr_ReadCert(m_ctx, 0xC002, out.data(), &len), 0);
  EXPECT_EQ(ByteVec(out.begin(), out.begin() + len), newer);
}

TEST_F(CertSim, DamagedFilesAreRefused) {
  ByteVec out(2048);
  DWORD len = 2048;
  // A file that was never written reads 0xFF: no certificate head.
  EXPECT_EQ(mr_ReadCert(m_ctx, 0xC002, out.data(), &len), kBadCertificate);

  PutBytes(0xC002, 0, {0x30, 0x82, 0x0B, 0xB4});  // 3000 bytes in all
  len = 2048;
  EXPECT_EQ(mr_ReadCert(m_ctx, 0xC002, out.data(), &len), kBadCertificate);
  EXPECT_EQ(len, 3000u);

  len = 2048;
  EXPECT_NE(mr_ReadCert(m_ctx, 0xC0F2, out.data(), &len), 0);
  EXPECT_EQ(len, 0u) << "no file";
}

}  // namespace
