// The frames the command routines send, byte for byte, and how they take
// the token's replies apart; over a recording transport.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <string>

#include "foundation/trace/trace.h"
#include "tests/tokenapi/support/recording_fixture.h"
#include "tokenapi/commands/device_commands.h"
#include "tokenapi/commands/file_commands.h"
#include "tokenapi/commands/flash_commands.h"

namespace {

using merro::testing::Bytes;
using merro::testing::Sequence;

constexpr HRESULT kBufferTooSmall = static_cast<HRESULT>(0x80070003);
constexpr HRESULT kLengthLimit = static_cast<HRESULT>(0x80070004);
constexpr HRESULT kBadReply = static_cast<HRESULT>(0x8007000D);

class CommandFrames : public merro::testing::RecordingTest {};

TEST_F(CommandFrames, SingleFrameCommands) {
  const BYTE label[2] = {'A', 'B'};
  const Bytes desc = Sequence(16, 0x40);
  BYTE info[16];
  DWORD infoLen = 16;
  const struct {
    const char* name;
    std::function<HRESULT(DEV_CTX*)> call;
    Bytes frame;
    DWORD timeout;
  } cases[] = {
      {"reset", [](DEV_CTX* c) { return mr_GetDevInfo(c, 1, nullptr); }, {0xB0, 0x12, 0x01, 0x00, 0x00, 0x14}, 2},
      {"label", [&](DEV_CTX* c) { return mr_SetTokenSN(c, label, 2); }, {0xB0, 0x7C, 0x00, 0x00, 0x02, 0x00, 'A', 'B'}, 2},
      {"erase MF", mr_EraseMF, {0xB0, 0x63, 0x00, 0x00, 0x00, 0x00}, 10},
      {"erase COS", mr_EraseCOS, {0xB0, 0x90, 0x00, 0x00, 0x00, 0x00}, 20},
      {"clock", mr_AdjustClock, {0xB0, 0x99, 0x00, 0x00, 0x00, 0x00}, 2},
      {"import screen", [](DEV_CTX* c) { return mr_DispImportCert(c, 3); }, {0xB0, 0x92, 0x03, 0x00, 0x00, 0x00}, 2},
      {"erase flash", mr_EraseFlash, {0xB0, 0x70, 0x00, 0x00, 0x00, 0x00}, 20},
      {"select", [&](DEV_CTX* c) { return mr_SelectFile(c, 0x20, 0xC000, info, &infoLen); },
       {0xB0, 0xA4, 0x20, 0x00, 0x02, 0x10, 0x00, 0xC0}, 2},
      {"erase file", [](DEV_CTX* c) { return mr_EraseFile(c, 0x20, 0xC012); }, {0xB0, 0x64, 0x20, 0x00, 0x02, 0x00, 0x12, 0xC0}, 2},
      {"delete file", [](DEV_CTX* c) { return mr_DeleteFile(c, 0x05, 0x0002); }, {0xB0, 0x65, 0x05, 0x00, 0x02, 0x00, 0x02, 0x00}, 2},
  };
  for (const auto& c : cases) {
    m_transport->Clear();
    EXPECT_EQ(c.call(&m_ctx), 0) << c.name;
    ASSERT_EQ(Frames().size(), 1u) << c.name;
    EXPECT_EQ(Frames()[0], c.frame) << c.name;
    EXPECT_EQ(m_transport->Timeouts()[0], c.timeout) << c.name;
  }
  m_transport->Clear();
  ASSERT_EQ(mr_CreateFile(&m_ctx, desc.data()), 0);
  Bytes create = {0xB0, 0xE0, 0x00, 0x00, 0x10, 0x00};
  create.insert(create.end(), desc.begin(), desc.end());
  EXPECT_EQ(Frames()[0], create);
}

TEST_F(CommandFrames, ReadsWithSizeQuery) {
  const Bytes sn = Sequence(8, 0xA0);
  const struct {
    const char* name;
    std::function<HRESULT(DEV_CTX*, BYTE*, DWORD*)> call;
    Bytes frame;
    bool terminated;
  } cases[] = {
      {"chip SN", mr_GetChipSN, {0xB0, 0x93, 0x00, 0x00, 0x00, 0x08}, true},
      {"COS version", mr_GetCosVersion, {0xB0, 0x62, 0x00, 0x00, 0x00, 0x05}, true},
      {"token SN", mr_GetTokenSN, {0xB0, 0x7D, 0x00, 0x00, 0x00, 0x80}, false},
  };
  for (const auto& c : cases) {
    const size_t n = c.frame[5] < 8 ? c.frame[5] : 8;
    const Bytes data(sn.begin(), sn.begin() + static_cast<long>(n));
    m_transport->Clear();
    m_transport->QueueReply(0x9000, data);
    DWORD len = 0;
    ASSERT_EQ(c.call(&m_ctx, nullptr, &len), 0) << c.name;
    EXPECT_EQ(len, n) << c.name;
    EXPECT_EQ(Frames()[0], c.frame) << c.name;

    BYTE buf[16];
    std::fill(buf, buf + 16, 0xEE);
    m_transport->QueueReply(0x9000, data);
    len = static_cast<DWORD>(n - 1);
    EXPECT_EQ(c.call(&m_ctx, buf, &len), kBufferTooSmall) << c.name;
    EXPECT_EQ(len, n) << c.name;

    // Exactly the data's length: nothing is written after it.
    m_transport->QueueReply(0x9000, data);
    len = static_cast<DWORD>(n);
    ASSERT_EQ(c.call(&m_ctx, buf, &len), 0) << c.name;
    EXPECT_EQ(Bytes(buf, buf + n), data) << c.name;
    EXPECT_EQ(buf[n], 0xEE) << c.name;

    // One more byte of room: the terminator goes there.
    m_transport->QueueReply(0x9000, data);
    len = static_cast<DWORD>(n + 1);
    ASSERT_EQ(c.call(&m_ctx, buf, &len), 0) << c.name;
    EXPECT_EQ(len, n) << c.name;
    EXPECT_EQ(buf[n], c.terminated ? 0x00 : 0xEE) << c.name;

    // A failed exchange reports the capacity it asked with.
    m_transport->QueueReply(0x6982);
    len = 3;
    EXPECT_EQ(c.call(&m_ctx, buf, &len), static_cast<HRESULT>(0x80006982)) << c.name;
    EXPECT_EQ(len, c.frame[5]) << c.name;
  }
}

TEST_F(CommandFrames, DeviceInfoFillsOnlyTheSelectedParts) {
  Bytes reply = {0x00, 0x00, 'H', '1', '.', '0', '0', 'V', '3', '.', '0', '2',
                 0xDE, 0xAD, 0xBE, 0xEF, 0x34, 0x12, 0x00, 0x08};
  DEVICE_INFO info;
  std::memset(&info, 0xEE, sizeof info);
  info.Mask = MR_DEVINFO_COS_VERSION;
  m_transport->QueueReply(0x9000, reply);
  ASSERT_EQ(mr_GetDevInfo(&m_ctx, 0, &info), 0);
  EXPECT_STREQ(info.szCosVersion, "V3.02");
  EXPECT_EQ(info.dwPart01Len, 0xEEEEEEEEu);
  EXPECT_EQ(info.wPart08, 0xEEEE);

  info.Mask = MR_DEVINFO_PART01 | MR_DEVINFO_PART02 | MR_DEVINFO_PART08 | MR_DEVINFO_PART10;
  m_transport->QueueReply(0x9000, reply);
  ASSERT_EQ(mr_GetDevInfo(&m_ctx, 0, &info), 0);
  EXPECT_EQ(Bytes(info.abyPart01, info.abyPart01 + info.dwPart01Len), (Bytes{0xDE, 0xAD, 0xBE, 0xEF}));
  EXPECT_EQ(Bytes(info.abyPart02, info.abyPart02 + info.dwPart02Len), (Bytes{'H', '1', '.', '0', '0'}));
  EXPECT_EQ(info.wPart08, 0x1234);
  EXPECT_EQ(info.wPart10, 0x0800);

  DEVICE_INFO untouched;
  std::memset(&untouched, 0xEE, sizeof untouched);
  untouched.Mask = 0;
  m_transport->QueueReply(0x9000, reply);
  ASSERT_EQ(mr_GetDevInfo(&m_ctx, 0, &untouched), 0);
  EXPECT_EQ(untouched.wPart10, 0xEEEE);

  // A reply shorter than the record's layout would leave zeros behind.
  reply.resize(12);
  m_transport->QueueReply(0x9000, reply);
  EXPECT_EQ(mr_GetDevInfo(&m_ctx, 0, &info), kBadReply);
}

TEST_F(CommandFrames, WriteFileGoesInPiecesOf128) {
  const Bytes data = Sequence(300);
  ASSERT_EQ(mr_WriteFile(&m_ctx, 0x0100, data.data(), 300), 0);
  ASSERT_EQ(Frames().size(), 3u);
  const struct {
    BYTE p1, p2;
    size_t from, n;
  } pieces[] = {{0x01, 0x00, 0, 128}, {0x01, 0x80, 128, 128}, {0x02, 0x00, 256, 44}};
  for (size_t i = 0; i < 3; ++i) {
    Bytes expected = {0xB0, 0x33, pieces[i].p1, pieces[i].p2, static_cast<BYTE>(pieces[i].n), 0x00};
    expected.insert(expected.end(), data.begin() + static_cast<long>(pieces[i].from),
                    data.begin() + static_cast<long>(pieces[i].from + pieces[i].n));
    EXPECT_EQ(Frames()[i], expected) << i;
  }
}

TEST_F(CommandFrames, LengthLimitsAndWrapAroundAreRefusedBeforeSending) {
  const Bytes data(0x20, 0x11);
  BYTE buf[16];
  DWORD len = 0x10001;
  EXPECT_EQ(mr_ReadFile(&m_ctx, 0, buf, &len), kLengthLimit);
  EXPECT_EQ(len, 0u);
  len = 0x20;
  EXPECT_EQ(mr_ReadFile(&m_ctx, 0xFFF0, buf, &len), kLengthLimit);  // would wrap to offset 0
  EXPECT_EQ(mr_WriteFile(&m_ctx, 0xFFF0, data.data(), 0x20), kLengthLimit);
  EXPECT_EQ(mr_WriteFile(&m_ctx, 0, data.data(), 0x10001), kLengthLimit);
  EXPECT_EQ(mr_WriteFlash(&m_ctx, 0, data.data(), 0x200001), kLengthLimit);
  EXPECT_EQ(mr_WriteFlash(&m_ctx, 0xFFFF, data.data(), 257), kLengthLimit);  // second page past 0xFFFF
  EXPECT_EQ(mr_ReadFlash(&m_ctx, 0xFFFF, buf, 129), kLengthLimit);
  EXPECT_EQ(mr_ReadFlash(&m_ctx, 0, buf, 0x200001), kLengthLimit);
  EXPECT_EQ(mr_SetTokenSN(&m_ctx, data.data(), 256), kLengthLimit);
  len = 15;
  EXPECT_EQ(mr_SelectFile(&m_ctx, 0x20, 0xC000, buf, &len), kLengthLimit);
  // Zero lengths send nothing.
  EXPECT_EQ(mr_WriteFile(&m_ctx, 0, data.data(), 0), 0);
  EXPECT_EQ(mr_WriteFlash(&m_ctx, 0, data.data(), 0), 0);
  len = 0;
  EXPECT_EQ(mr_ReadFile(&m_ctx, 0, buf, &len), 0);
  EXPECT_TRUE(Frames().empty());
  // The very last offset and page are still reachable.
  EXPECT_EQ(mr_WriteFile(&m_ctx, 0xFFFF, data.data(), 1), 0);
  const Bytes page(256, 0x22);
  EXPECT_EQ(mr_WriteFlash(&m_ctx, 0xFFFF, page.data(), 256), 0);
}

TEST_F(CommandFrames, WriteFlashSendsHalfPagesAndFillsTheLastPage) {
  const Bytes data = Sequence(300, 1);
  ASSERT_EQ(mr_WriteFlash(&m_ctx, 5, data.data(), 300), 0);
  ASSERT_EQ(Frames().size(), 4u);
  Bytes page6(256, 0xFF);
  std::copy(data.begin() + 256, data.end(), page6.begin());
  const Bytes* pages[2] = {&data, &page6};
  for (size_t i = 0; i < 4; ++i) {
    const BYTE page = static_cast<BYTE>(5 + i / 2);
    const BYTE half = static_cast<BYTE>(i % 2);
    const Bytes& source = *pages[i / 2];
    Bytes expected(7 + 128);
    const BYTE header[7] = {0xB0, 0x71, 0x00, page, 0x81, 0x00, half};
    std::copy(header, header + 7, expected.begin());
    std::copy_n(source.begin() + half * 128, 128, expected.begin() + 7);
    EXPECT_EQ(Frames()[i], expected) << i;
  }
}

TEST_F(CommandFrames, ReadFlashAsksUnitByUnit) {
  const Bytes data = Sequence(300, 9);
  m_transport->QueueReply(0x9000, Bytes(data.begin(), data.begin() + 128));
  m_transport->QueueReply(0x9000, Bytes(data.begin() + 128, data.begin() + 256));
  m_transport->QueueReply(0x9000, Bytes(data.begin() + 256, data.end()));
  Bytes out(300);
  ASSERT_EQ(mr_ReadFlash(&m_ctx, 5, out.data(), 300), 0);
  EXPECT_EQ(out, data);
  ASSERT_EQ(Frames().size(), 3u);
  EXPECT_EQ(Frames()[0], (Bytes{0xB0, 0x72, 0x00, 0x05, 0x00, 128}));
  EXPECT_EQ(Frames()[1], (Bytes{0xB0, 0x72, 0x00, 0x06, 0x00, 128}));
  EXPECT_EQ(Frames()[2], (Bytes{0xB0, 0x72, 0x00, 0x07, 0x00, 44}));
}

TEST_F(CommandFrames, ReadFlashRefusesPiecesThatAreNotWholeUnits) {
  // The unit number moves by one per frame: a short unit would shift every
  // later unit's bytes, so only a piece of exactly the size asked counts.
  const struct {
    const char* name;
    Bytes second;  // reply data of the second unit (asked: 128)
  } cases[] = {
      {"empty unit", {}},
      {"short unit", Bytes(100, 2)},
  };
  Bytes out(300, 0xEE);
  for (const auto& c : cases) {
    m_transport->Clear();
    m_transport->QueueReply(0x9000, Bytes(128, 1));
    m_transport->QueueReply(0x9000, c.second);
    m_transport->QueueReply(0x9000, Bytes(44, 3));
    EXPECT_EQ(mr_ReadFlash(&m_ctx, 5, out.data(), 300), kBadReply) << c.name;
    EXPECT_EQ(Frames().size(), 2u) << c.name;
  }
  // More than asked cannot be taken either (a reply to the last 44 bytes).
  m_transport->Clear();
  m_transport->QueueReply(0x9000, Bytes(50, 1));
  EXPECT_EQ(mr_ReadFlash(&m_ctx, 0, out.data(), 44), kBadReply);

  // From the last unit numbers on, a run of short units never wraps to
  // unit 0: the read fails at the first short one.
  m_transport->Clear();
  for (int i = 0; i < 20; ++i) {
    m_transport->QueueReply(0x9000, Bytes(1, 7));
  }
  EXPECT_EQ(mr_ReadFlash(&m_ctx, 0xFFFF, out.data(), 128), kBadReply);
  ASSERT_EQ(Frames().size(), 1u);
  EXPECT_EQ(Frames()[0], (Bytes{0xB0, 0x72, 0xFF, 0xFF, 0x00, 128}));
}

TEST_F(CommandFrames, ReadFileStopsOnBadPiecesAndReportsWhatItGot) {
  Bytes out(300);
  const struct {
    const char* name;
    Bytes second;   // reply data of the second piece (asked: 128)
    std::uint16_t sw;
    HRESULT result;
    DWORD total;
  } cases[] = {
      {"empty piece", {}, 0x9000, kBadReply, 128},
      {"token refuses", {}, 0x6B00, static_cast<HRESULT>(0x80006B00), 128},
      {"short piece", Bytes(100, 2), 0x9000, 0, 300},
  };
  for (const auto& c : cases) {
    m_transport->Clear();
    m_transport->QueueReply(0x9000, Bytes(128, 1));
    m_transport->QueueReply(c.sw, c.second);
    m_transport->QueueReply(0x9000, Bytes(72, 3));
    DWORD len = 300;
    EXPECT_EQ(mr_ReadFile(&m_ctx, 0x0010, out.data(), &len), c.result) << c.name;
    EXPECT_EQ(len, c.total) << c.name;
  }
  // After a short piece the next one starts where it ended.
  EXPECT_EQ(Frames()[1], (Bytes{0xB0, 0x36, 0x00, 0x90, 0x00, 128}));
  EXPECT_EQ(Frames()[2], (Bytes{0xB0, 0x36, 0x00, 0xF4, 0x00, 72}));
  EXPECT_EQ(out[128 + 100], 3);

  // More data than asked for: the count would run past the request.
  m_transport->Clear();
  m_transport->QueueReply(0x9000, Bytes(50, 1));
  DWORD len = 44;
  EXPECT_EQ(mr_ReadFile(&m_ctx, 0, out.data(), &len), kBadReply);
  EXPECT_EQ(len, 0u);
}

}  // namespace

namespace {

// The text of a step or failure record (UTF-16 bytes with a terminator).
std::u16string LineOf(const merro::trace::Record& r) {
  std::u16string text;
  for (size_t i = 0; i + 1 < r.args[0].size(); i += 2) {
    const char16_t c = static_cast<char16_t>(r.args[0][i] | (r.args[0][i + 1] << 8));
    if (c == 0) {
      break;
    }
    text += c;
  }
  return text;
}

TEST_F(CommandFrames, ExchangesAreLoggedUnderTheCommandsName) {
  std::vector<merro::trace::Record> records;
  merro::trace::SetSink([&](const merro::trace::Record& r) { records.push_back(r); });
  merro::trace::SetEnableFlags(0xFFFFFFFF);
  m_transport->QueueReply(0x6A82);
  BYTE sn[9];
  DWORD len = sizeof sn;
  EXPECT_EQ(mr_GetChipSN(&m_ctx, sn, &len), static_cast<HRESULT>(0x80006A82));
  mr_EraseMF(&m_ctx);
  merro::trace::SetSink({});
  merro::trace::SetEnableFlags(0);

  bool failureLine = false, stepLine = false;
  for (const auto& r : records) {
    if (r.number == merro::trace::kMsgFailureLine &&
        LineOf(r).find(u"mr_GetChipSN - mr_SendAPDUCmd") != std::u16string::npos) {
      failureLine = true;
      EXPECT_EQ(r.args[1], (std::vector<std::uint8_t>{0x82, 0x6A, 0x00, 0x80}));
    }
    if (r.number == merro::trace::kMsgStepLine && LineOf(r) == u"mr_EraseMF - mr_SendAPDUCmd") {
      stepLine = true;
    }
  }
  EXPECT_TRUE(failureLine);
  EXPECT_TRUE(stepLine);
}

}  // namespace
