// File-system commands against the in-process simulator.
#include <gtest/gtest.h>

#include <vector>

#include "tests/tokenapi/support/file_description.h"
#include "tests/tokenapi/support/sim_fixture.h"
#include "tokenapi/commands/file_commands.h"

namespace {

using Bytes = std::vector<BYTE>;

// A data file with its rights bytes filled in.
Bytes Description(WORD id, WORD size) {
  Bytes d = merro::testing::FileDescription(id, size);
  d[8] = 0x00;
  d[9] = 0x01;
  d[10] = 0x11;
  d[11] = 0x01;
  d[12] = 0x21;
  return d;
}

class FileCommandsSim : public merro::testing::SimulatorTest {};

TEST_F(FileCommandsSim, CreateSelectWriteReadRoundTrip) {
  DEV_CTX* ctx = OpenToken(0);
  const Bytes desc = Description(0xC002, 2048);
  ASSERT_EQ(mr_CreateFile(ctx, desc.data()), 0);

  BYTE info[MR_FILE_INFO_LEN] = {};
  DWORD infoLen = sizeof info;
  ASSERT_EQ(mr_SelectFile(ctx, MR_SELECT_BY_ID, 0xC002, info, &infoLen), 0);
  EXPECT_EQ(Bytes(info, info + infoLen), desc);

  Bytes data(300);
  for (size_t i = 0; i < data.size(); ++i) {
    data[i] = static_cast<BYTE>(i * 7);
  }
  ASSERT_EQ(mr_WriteFile(ctx, 0x0100, data.data(), static_cast<DWORD>(data.size())), 0);

  Bytes back(300);
  DWORD backLen = static_cast<DWORD>(back.size());
  ASSERT_EQ(mr_ReadFile(ctx, 0x0100, back.data(), &backLen), 0);
  EXPECT_EQ(backLen, 300u);
  EXPECT_EQ(back, data);

  // Untouched bytes of a new file read 0xFF.
  Bytes head(16);
  DWORD headLen = 16;
  ASSERT_EQ(mr_ReadFile(ctx, 0, head.data(), &headLen), 0);
  EXPECT_EQ(head, Bytes(16, 0xFF));
}

TEST_F(FileCommandsSim, EraseRefillsAndDeleteRemoves) {
  DEV_CTX* ctx = OpenToken(1);
  ASSERT_EQ(mr_CreateFile(ctx, Description(0x0002, 512).data()), 0);
  const Bytes name(32, 'N');
  ASSERT_EQ(mr_WriteFile(ctx, 0, name.data(), 32), 0);
  ASSERT_EQ(mr_EraseFile(ctx, MR_SELECT_BY_ID, 0x0002), 0);

  BYTE info[MR_FILE_INFO_LEN];
  DWORD infoLen = sizeof info;
  ASSERT_EQ(mr_SelectFile(ctx, MR_SELECT_BY_ID, 0x0002, info, &infoLen), 0);
  Bytes back(32);
  DWORD backLen = 32;
  ASSERT_EQ(mr_ReadFile(ctx, 0, back.data(), &backLen), 0);
  EXPECT_EQ(back, Bytes(32, 0xFF));

  ASSERT_EQ(mr_DeleteFile(ctx, 0x00, 0x0002), 0);
  infoLen = sizeof info;
  EXPECT_EQ(mr_SelectFile(ctx, MR_SELECT_BY_ID, 0x0002, info, &infoLen),
            static_cast<HRESULT>(0x80006A82));
}

TEST_F(FileCommandsSim, TokenRefusesWhatItCannotDo) {
  DEV_CTX* ctx = OpenToken(0);
  BYTE buf[64];
  DWORD len = 16;
  // Nothing selected yet.
  EXPECT_EQ(mr_ReadFile(ctx, 0, buf, &len), static_cast<HRESULT>(0x80006986));
  EXPECT_EQ(len, 0u);

  ASSERT_EQ(mr_CreateFile(ctx, Description(0xB000, 64).data()), 0);
  EXPECT_EQ(mr_CreateFile(ctx, Description(0xB000, 64).data()), static_cast<HRESULT>(0x80006A89));
  // A read that runs past the end reports what it got before the refusal.
  len = 64;
  EXPECT_EQ(mr_ReadFile(ctx, 32, buf, &len), static_cast<HRESULT>(0x80006B00));
  EXPECT_EQ(len, 0u);
  EXPECT_EQ(mr_WriteFile(ctx, 60, buf, 8), static_cast<HRESULT>(0x80006B00));
  EXPECT_EQ(mr_EraseFile(ctx, MR_SELECT_BY_ID, 0x1234), static_cast<HRESULT>(0x80006A82));
}

}  // namespace
