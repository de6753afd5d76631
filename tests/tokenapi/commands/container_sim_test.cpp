// Containers over the in-process simulator: reclaiming, full token,
// duplicate and long names, enumeration, flag updates and the index.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>

#include "tests/tokenapi/commands/token_files_fixture.h"
#include "tokenapi/commands/container_commands.h"
#include "tokenapi/commands/file_commands.h"
#include "tokenapi/commands/record_commands.h"
#include "tokenapi/commands/token_files.h"

namespace {

using merro::testing::ByteVec;
using merro::testing::NamedRecord;

constexpr HRESULT kBufferTooSmall = static_cast<HRESULT>(0x80070003);
constexpr HRESULT kBadLength = static_cast<HRESULT>(0x80070004);
constexpr HRESULT kLocked = static_cast<HRESULT>(0x80006285);
constexpr HRESULT kPinNotVerified = static_cast<HRESULT>(0x80006982);
constexpr HRESULT kNameExists = static_cast<HRESULT>(0x8007020D);
constexpr HRESULT kNoFreeSlot = static_cast<HRESULT>(0x8007020E);
constexpr HRESULT kNoSuchContainer = static_cast<HRESULT>(0x8007020F);
constexpr BYTE kNone = 0xFF;

std::string NameOf(const CONTAINER_RECORD& r) {
  return std::string(r.szContainerName, strnlen(r.szContainerName, sizeof r.szContainerName));
}

class ContainerSim : public merro::testing::InitialisedTokenTest {
 protected:
  // Slot states: 'F' free, 'U' unfinished, 'A' available; named by slot.
  void Arrange(const std::string& kinds) {
    for (BYTE slot = 0; slot < 4; ++slot) {
      const std::string name = std::string("old") + char('0' + slot);
      switch (kinds[slot]) {
        case 'U':
          PutRecord(slot, 0x01, MR_ALG_SM2, kNone, name);
          break;
        case 'A':
          PutRecord(slot, 0x03, MR_ALG_SM2, kNone, name);
          break;
        default:
          FreeSlot(slot);
      }
    }
  }

  HRESULT Update(BYTE slot, const ByteVec& input) {
    BYTE info[MR_FILE_INFO_LEN];
    DWORD len = sizeof info;
    EXPECT_EQ(mr_SelectFile(m_ctx, MR_SELECT_BY_ID, CTNR_FID, info, &len), 0);
    return mr_UpdateRecord(m_ctx, slot, input.data(), static_cast<DWORD>(input.size()));
  }

  HRESULT Create(const std::string& name, CONTAINER_RECORD* pOut = nullptr) {
    // Exactly 76 bytes on the heap: a write past the record is caught.
    auto record = std::make_unique<CONTAINER_RECORD>(NamedRecord(name));
    const HRESULT hr = mr_CreateContainer(m_ctx, record.get());
    if (pOut != nullptr) {
      *pOut = *record;
    }
    return hr;
  }
};

TEST_F(ContainerSim, InitialisedTokenHasFreeSlotsAndEmptyIndex) {
  DWORD count = 7;
  ASSERT_EQ(mr_EnumContainer(m_ctx, nullptr, &count), 0);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(Index(), ByteVec(8, 0xFF));
}

TEST_F(ContainerSim, CreationReclaimsUnfinishedSlots) {
  const struct {
    const char* name;
    const char* before;  // slots 0-3
    ByteVec index;
    HRESULT result;
    const char* after;   // 'N': the new container
    ByteVec indexAfter;
  } cases[] = {
      {"all free", "FFFF", ByteVec(8, kNone), 0, "NFFF", ByteVec(8, kNone)},
      {"free slot 1, unfinished slot 2", "AFUA", ByteVec(8, kNone), 0, "AFNA", ByteVec(8, kNone)},
      {"unfinished 0 and 3, free 1", "UFAU", ByteVec(8, kNone), 0, "FFAN", ByteVec(8, kNone)},
      {"four available", "AAAA", ByteVec(8, kNone), kNoFreeSlot, "AAAA", ByteVec(8, kNone)},
      {"pending unfinished slot", "AAUA", {kNone, kNone, kNone, kNone, kNone, kNone, 2, kNone}, 0,
       "AANA", ByteVec(8, kNone)},
      {"pending available slot", "AAAF", {kNone, kNone, 1, 0x00, kNone, 1, kNone, 3}, 0, "AAAN",
       {kNone, kNone, 1, 0x00, kNone, kNone, kNone, kNone}},
      // Slot 2 was available (index byte 2) and got a further bit since:
      // reclaiming it clears byte 2 too, and the write-back keeps it clear.
      {"stale available byte", "AAUA", {kNone, kNone, 2, kNone, kNone, kNone, 2, kNone}, 0, "AANA",
       ByteVec(8, kNone)},
      {"pending byte beyond slot 3", "FAAA", {kNone, kNone, kNone, kNone, 0x09, kNone, kNone, kNone},
       0, "NAAA", ByteVec(8, kNone)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Arrange(c.before);
    PutIndex(c.index);
    CONTAINER_RECORD created;
    ASSERT_EQ(Create("new", &created), c.result);
    for (BYTE slot = 0; slot < 4; ++slot) {
      const CONTAINER_RECORD r = Record(slot);
      switch (c.after[slot]) {
        case 'F':
          EXPECT_EQ(r.byFlag, 0xFF) << int(slot);
          break;
        case 'A':
          EXPECT_EQ(r.byFlag, 0x03) << int(slot);
          EXPECT_EQ(NameOf(r), std::string("old") + char('0' + slot));
          break;
        case 'N': {
          EXPECT_EQ(r.byFlag, 0x00);
          EXPECT_EQ(NameOf(r), "new");
          EXPECT_EQ(r.AlgType, kNone);
          EXPECT_EQ(r.SignKeyLen, kNone);
          EXPECT_EQ(r.ExchangeKeyFID, 0xC001 + 16 * slot);
          EXPECT_EQ(r.ExchangeCertFID, 0xC002 + 16 * slot);
          EXPECT_EQ(r.SignKeyFID, 0xC004 + 16 * slot);
          EXPECT_EQ(r.SignCertFID, 0xC008 + 16 * slot);
          EXPECT_EQ(std::memcmp(&r, &created, sizeof r), 0) << "the caller gets the record";
          for (const BYTE kind : {1, 2, 4, 8}) {
            EXPECT_TRUE(FileExists(MrContainerFileId(slot, kind))) << int(kind);
          }
          break;
        }
      }
    }
    EXPECT_EQ(Index(), c.indexAfter);
  }
}

TEST_F(ContainerSim, ExistingNameReturnsTheStoredRecord) {
  Arrange("FAFF");
  CONTAINER_RECORD out;
  EXPECT_EQ(Create("old1", &out), kNameExists);
  EXPECT_EQ(out.byFlag, 0x03);
  EXPECT_EQ(out.ExchangeKeyFID, 0xC011);
  EXPECT_EQ(Record(0).byFlag, 0xFF) << "nothing created";
}

TEST_F(ContainerSim, NamesAreBoundedAndComparedWhole) {
  // A 64-character name fills the field without a terminator.
  const std::string longName(64, 'x');
  ASSERT_EQ(Create(longName), 0);
  EXPECT_EQ(std::string(Record(0).szContainerName, 64), longName);
  auto read = std::make_unique<CONTAINER_RECORD>(NamedRecord(longName));
  ASSERT_EQ(mr_ReadContainer(m_ctx, read.get()), 0);
  EXPECT_EQ(read->ExchangeKeyFID, 0xC001);
  // Available, so that the next creations keep it.
  PutBytes(CTNR_FID, 0, {0x03});

  // A prefix is another name.
  ASSERT_EQ(Create("abcdef"), 0);
  PutBytes(CTNR_FID, 128, {0x03});
  EXPECT_EQ(mr_EnableContainer(m_ctx, "abc", 3), kNoSuchContainer);
  VerifyUserPin();
  EXPECT_EQ(mr_DeleteContainer(m_ctx, "abc", 3), kNoSuchContainer);
  EXPECT_EQ(NameOf(Record(1)), "abcdef");
  ASSERT_EQ(Create("abc"), 0);
  EXPECT_EQ(NameOf(Record(2)), "abc");
  EXPECT_EQ(NameOf(Record(1)), "abcdef") << "creating abc left abcdef alone";

  // A length that counts the terminator, and one beyond the 64 bytes of
  // the caller's buffer (read no further than 64).
  EXPECT_EQ(mr_DeleteContainer(m_ctx, "abc", 4), 0);
  std::unique_ptr<char[]> name(new char[64]);
  std::memset(name.get(), 'x', 64);
  EXPECT_EQ(mr_DeleteContainer(m_ctx, name.get(), 100), 0);
  EXPECT_EQ(Record(0).byFlag, 0xFF);
  EXPECT_EQ(NameOf(Record(1)), "abcdef");
}

TEST_F(ContainerSim, EnumerationSizesAndOrder) {
  Arrange("AFUF");
  DWORD count = 0;
  ASSERT_EQ(mr_EnumContainer(m_ctx, nullptr, &count), 0);
  EXPECT_EQ(count, 2u);
  CONTAINER_RECORD records[4];
  count = 1;
  EXPECT_EQ(mr_EnumContainer(m_ctx, records, &count), kBufferTooSmall);
  EXPECT_EQ(count, 2u);
  count = 4;
  ASSERT_EQ(mr_EnumContainer(m_ctx, records, &count), 0);
  ASSERT_EQ(count, 2u);
  EXPECT_EQ(NameOf(records[0]), "old0");
  EXPECT_EQ(NameOf(records[1]), "old2");
}

TEST_F(ContainerSim, RecordUpdatesOrFlagsAndLockDoubleContainers) {
  const struct {
    const char* name;
    BYTE flag, signKeyLen;
    ByteVec input;
    HRESULT result;
    BYTE flagAfter;
    BYTE indexByte2;  // available SM2 container
  } cases[] = {
      {"OR a bit", 0x05, 0x00, {0x02}, 0, 0x07, kNone},
      {"double-certificate lock", 0x0F, 0x00, {0x02}, kLocked, 0x0F, kNone},
      {"single becomes available", 0x01, kNone, {0x02}, 0, 0x03, 1},
      {"double becomes available", 0x07, 0x00, {0x08}, 0, 0x0F, 1},
      {"input longer than a record", 0x01, kNone, ByteVec(77, 0x00), kBadLength, 0x01, kNone},
      {"empty input", 0x01, kNone, ByteVec(), kBadLength, 0x01, kNone},
      {"whole record of 75 bytes", 0x01, kNone, ByteVec(75, 0x00), kBadLength, 0x01, kNone},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    PutIndex(ByteVec(8, kNone));
    PutRecord(1, c.flag, MR_ALG_SM2, c.signKeyLen, "r");
    const ByteVec input = c.input.empty() ? ByteVec{0x01} : c.input;
    BYTE info[MR_FILE_INFO_LEN];
    DWORD len = sizeof info;
    ASSERT_EQ(mr_SelectFile(m_ctx, MR_SELECT_BY_ID, CTNR_FID, info, &len), 0);
    EXPECT_EQ(mr_UpdateRecord(m_ctx, 1, input.data(), static_cast<DWORD>(c.input.size())),
              c.result);
    EXPECT_EQ(Record(1).byFlag, c.flagAfter);
    EXPECT_EQ(Index()[2], c.indexByte2);
  }
}

TEST_F(ContainerSim, EnablingSingleAndDoubleContainers) {
  // Single: SignKeyLen 0xFF and the exchange key: 0x03, index byte 2.
  PutRecord(1, 0x01, MR_ALG_SM2, kNone, "single");
  ASSERT_EQ(mr_EnableContainer(m_ctx, "single", 6), 0);
  EXPECT_EQ(Record(1).byFlag, 0x03);
  EXPECT_EQ(Index()[2], 1);
  // Already available: the byte is written again, the index is left alone.
  PutIndex(ByteVec(8, kNone));
  ASSERT_EQ(mr_EnableContainer(m_ctx, "single", 6), 0);
  EXPECT_EQ(Record(1).byFlag, 0x03);
  EXPECT_EQ(Index(), ByteVec(8, kNone));

  // Double: RSA-2048 (column 1), then locked.
  PutRecord(3, 0x05, MR_ALG_RSA2048, 0x02, "double");
  ASSERT_EQ(mr_EnableContainer(m_ctx, "double", 6), 0);
  EXPECT_EQ(Record(3).byFlag, 0x0F);
  EXPECT_EQ(Index()[1], 3);
  EXPECT_EQ(mr_EnableContainer(m_ctx, "double", 6), kLocked);
  EXPECT_EQ(mr_EnableContainer(m_ctx, "nobody", 6), kNoSuchContainer);
}

TEST_F(ContainerSim, WriteContainerMakesItPendingAndEnablingMovesIt) {
  ASSERT_EQ(Create("sm2"), 0);
  CONTAINER_RECORD codes = NamedRecord("sm2");
  codes.AlgType = MR_ALG_SM2;
  codes.ExchKeyLen = 0x00;
  codes.SignKeyLen = kNone;
  codes.byFlag = 0x77;          // not taken from the caller
  codes.ExchangeKeyFID = 0x1234;  // neither are the file ids
  ASSERT_EQ(mr_WriteContainer(m_ctx, &codes), 0);
  CONTAINER_RECORD r = Record(0);
  EXPECT_EQ(r.byFlag, 0x00);
  EXPECT_EQ(r.AlgType, MR_ALG_SM2);
  EXPECT_EQ(r.ExchKeyLen, 0x00);
  EXPECT_EQ(r.ExchangeKeyFID, 0xC001);
  EXPECT_EQ(Index()[6], 0);

  PutBytes(CTNR_FID, 0, {0x01});  // the exchange key is there
  ASSERT_EQ(mr_EnableContainer(m_ctx, "sm2", 3), 0);
  EXPECT_EQ(Index()[2], 0);
  EXPECT_EQ(Index()[6], kNone);

  CONTAINER_RECORD missing = NamedRecord("missing");
  EXPECT_EQ(mr_WriteContainer(m_ctx, &missing), kNoSuchContainer);
}

TEST_F(ContainerSim, DeletionNeedsTheVerifiedUserPin) {
  ASSERT_EQ(Create("gone"), 0);
  PutBytes(0xC002, 0, ByteVec(300, 0x30));
  PutBytes(0xC004, 0, ByteVec(10, 0x11));
  PutIndex({kNone, kNone, 0, kNone, kNone, kNone, 0, kNone});

  EXPECT_EQ(mr_DeleteContainer(m_ctx, "gone", 4), kPinNotVerified);
  EXPECT_EQ(NameOf(Record(0)), "gone");

  VerifyUserPin();
  ASSERT_EQ(mr_DeleteContainer(m_ctx, "gone", 4), 0);
  EXPECT_EQ(Record(0).byFlag, 0xFF);
  EXPECT_EQ(Index(), ByteVec(8, kNone));
  for (const WORD fid : {0xC001, 0xC002, 0xC004, 0xC008}) {
    EXPECT_TRUE(FileExists(fid)) << fid;
    EXPECT_EQ(FileBytes(fid, 0, 300), ByteVec(300, 0xFF)) << fid;
  }

  // After a reset the PIN no longer stands verified.
  ASSERT_EQ(Create("again"), 0);
  ResetSecurity();
  EXPECT_EQ(mr_DeleteContainer(m_ctx, "again", 5), kPinNotVerified);
}

TEST_F(ContainerSim, DeletionErasesOnlyTheSlotsOwnFiles) {
  // A record that names the PIN file as its exchange certificate.
  PutRecord(0, 0x03, MR_ALG_SM2, kNone, "odd");
  CONTAINER_RECORD odd = Record(0);
  odd.ExchangeCertFID = 0x0000;
  const BYTE* p = reinterpret_cast<const BYTE*>(&odd);
  PutBytes(CTNR_FID, 0, ByteVec(p, p + sizeof odd));
  for (const WORD fid : {0xC001, 0xC004, 0xC008}) {
    ASSERT_EQ(mr_CreateKeyFile(m_ctx, fid), 0);
  }
  const ByteVec pinFile = FileBytes(0x0000, 0, 1024);
  VerifyUserPin();
  ASSERT_EQ(mr_DeleteContainer(m_ctx, "odd", 3), 0);
  EXPECT_EQ(FileBytes(0x0000, 0, 1024), pinFile);
  EXPECT_EQ(Record(0).byFlag, 0xFF);
}

}  // namespace
