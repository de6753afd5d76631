#include "tests/tokenapi/commands/token_files_fixture.h"

#include <cstring>

#include "tokenapi/commands/auth_commands.h"
#include "tokenapi/commands/device_commands.h"
#include "tokenapi/commands/init_commands.h"
#include "tokenapi/commands/pin_commands.h"
#include "tokenapi/commands/token_files.h"
#include "tokensim/core/token.h"

namespace merro::testing {

void InitialisedTokenTest::SetUp() {
  SimulatorTest::SetUp();
  m_ctx = OpenToken(0);
  ASSERT_EQ(mr_InitTokenFile(m_ctx), 0);
}

ByteVec InitialisedTokenTest::FileBytes(WORD fid, size_t offset, size_t n) {
  ByteVec out;
  m_sim->WithToken(0, [&](merro::tokensim::Token& token) {
    const merro::tokensim::TokenFile* file = token.Files().Find(fid);
    if (file != nullptr && offset + n <= file->content.size()) {
      out.assign(file->content.begin() + static_cast<long>(offset),
                 file->content.begin() + static_cast<long>(offset + n));
    }
  });
  return out;
}

bool InitialisedTokenTest::FileExists(WORD fid) {
  bool exists = false;
  m_sim->WithToken(0, [&](merro::tokensim::Token& token) {
    exists = token.Files().Find(fid) != nullptr;
  });
  return exists;
}

void InitialisedTokenTest::PutBytes(WORD fid, size_t offset, const ByteVec& bytes) {
  m_sim->WithToken(0, [&](merro::tokensim::Token& token) {
    merro::tokensim::TokenFile* file = token.Files().Find(fid);
    ASSERT_NE(file, nullptr);
    ASSERT_LE(offset + bytes.size(), file->content.size());
    std::copy(bytes.begin(), bytes.end(), file->content.begin() + static_cast<long>(offset));
  });
}

CONTAINER_RECORD InitialisedTokenTest::Record(BYTE slot) {
  CONTAINER_RECORD record;
  const ByteVec bytes = FileBytes(CTNR_FID, slot * MR_CTNR_SLOT_STRIDE, MR_CTNR_RECORD_LEN);
  EXPECT_EQ(bytes.size(), sizeof record);
  std::memcpy(&record, bytes.data(), sizeof record);
  return record;
}

void InitialisedTokenTest::PutRecord(BYTE slot, BYTE flag, BYTE alg, BYTE signKeyLen,
                                     const std::string& name) {
  CONTAINER_RECORD record = NamedRecord(name);
  record.byFlag = flag;
  record.AlgType = alg;
  record.ExchKeyLen = alg == MR_ALG_SM2 ? 0x00 : 0x01;
  record.SignKeyLen = signKeyLen;
  record.ExchangeKeyFID = MrContainerFileId(slot, MR_CTNR_EXCH_KEY);
  record.ExchangeCertFID = MrContainerFileId(slot, MR_CTNR_EXCH_CERT);
  record.SignKeyFID = MrContainerFileId(slot, MR_CTNR_SIGN_KEY);
  record.SignCertFID = MrContainerFileId(slot, MR_CTNR_SIGN_CERT);
  const BYTE* p = reinterpret_cast<const BYTE*>(&record);
  PutBytes(CTNR_FID, slot * MR_CTNR_SLOT_STRIDE, ByteVec(p, p + sizeof record));
}

void InitialisedTokenTest::FreeSlot(BYTE slot) {
  PutBytes(CTNR_FID, slot * MR_CTNR_SLOT_STRIDE, ByteVec(MR_CTNR_RECORD_LEN, 0xFF));
}

void InitialisedTokenTest::VerifyUserPin() {
  const BYTE pin[] = {'9', '0', '5', '1', '7', '2'};
  ASSERT_EQ(mr_VerifyPIN(m_ctx, MR_PIN_USER, pin, sizeof pin), 0);
}

void InitialisedTokenTest::ResetSecurity() {
  ASSERT_EQ(mr_GetDevInfo(m_ctx, 1, nullptr), 0);
  ASSERT_EQ(mr_AutoExternalAuth(m_ctx, MR_KEY_EXTERN), 0);
}

CONTAINER_RECORD NamedRecord(const std::string& name) {
  CONTAINER_RECORD record;
  std::memset(&record, 0, sizeof record);
  record.AlgType = record.ExchKeyLen = record.SignKeyLen = MR_CTNR_NONE;
  std::memcpy(record.szContainerName, name.data(),
              name.size() < sizeof record.szContainerName ? name.size()
                                                          : sizeof record.szContainerName);
  return record;
}

}  // namespace merro::testing
