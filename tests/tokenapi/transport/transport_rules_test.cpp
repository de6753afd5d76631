// The pure rules of the transport: hexadecimal text, parent USB IDs, the
// packed name list and the device mutex name.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tokenapi/transport/device_ctx.h"
#include "tokenapi/transport/device_names.h"
#include "tokenapi/transport/hex_text.h"

namespace {

using merro::transport::MutexNameError;

TEST(HexText, WordReadsExactlyFourDigits) {
  const struct {
    const char16_t* text;
    WORD value;
  } cases[] = {
      {u"2F3D", 0x2F3D}, {u"abcd", 0xABCD}, {u"0301&PID", 0x0301},
      {u"12G4", 0},      {u"12", 0},        {u"", 0},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(HexTextToWord(c.text), c.value);
  }
  EXPECT_EQ(HexTextToWord(nullptr), 0);
}

TEST(HexText, BytesStopAtTheFirstIncompleteOrForeignPair) {
  const struct {
    const char16_t* text;
    DWORD capacity;
    std::vector<WORD> values;
  } cases[] = {
      {u"0A1bFF", 8, {0x0A, 0x1B, 0xFF}},
      {u"0A1", 8, {0x0A}},          // a final unpaired digit is left
      {u"0AZZ12", 8, {0x0A}},       // stops at a foreign character
      {u"010203", 2, {0x01, 0x02}}, // stops at the capacity
      {u"", 8, {}},
  };
  for (const auto& c : cases) {
    WORD out[8] = {};
    DWORD count = c.capacity;
    HexTextToBytes(c.text, out, &count);
    EXPECT_EQ(std::vector<WORD>(out, out + count), c.values);
  }
}

TEST(ParentUsbIds, RequireTheWholeTemplate) {
  const struct {
    const char16_t* id;
    bool ok;
    WORD vid, pid;
  } cases[] = {
      {u"USB\\VID_2F3D&PID_0301\\7&1A2B", true, 0x2F3D, 0x0301},
      {u"USB\\VID_2f3d&PID_0301", true, 0x2F3D, 0x0301},
      {u"USB\\VID_2F3D&PID_030", false, 0, 0},      // too short
      {u"USBSTOR\\CDROM&VEN_X", false, 0, 0},       // not a USB parent
      {u"HID\\VID_2F3D&PID_0301", false, 0, 0},
      {u"USB\\VID_2F3D#PID_0301", false, 0, 0},     // wrong infix
      {u"USB\\VID_2F3G&PID_0301", false, 0, 0},     // not a digit
  };
  for (const auto& c : cases) {
    WORD vid = 0, pid = 0;
    EXPECT_EQ(merro::transport::ParseParentUsbIds(c.id, &vid, &pid), c.ok);
    EXPECT_EQ(vid, c.vid);
    EXPECT_EQ(pid, c.pid);
  }
}

TEST(PackDeviceNames, TwoNamesThenADoubleZero) {
  const std::vector<std::string> names = {"ab", "xyz"};
  const std::vector<BYTE> expected = {'a', 'b', 0, 'x', 'y', 'z', 0, 0};
  std::vector<BYTE> buf(16, 0xEE);
  ASSERT_EQ(merro::transport::PackDeviceNames(names, buf.data(), 16), expected.size());
  EXPECT_EQ(std::vector<BYTE>(buf.begin(), buf.begin() + 8), expected);
  EXPECT_EQ(buf[8], 0xEE);

  // Exactly the room needed, then one byte less: the second name no longer
  // fits with the final zero and nothing is written past the capacity.
  std::vector<BYTE> exact(9, 0xEE);
  EXPECT_EQ(merro::transport::PackDeviceNames(names, exact.data(), 8), 8u);
  EXPECT_EQ(exact[8], 0xEE);
  std::vector<BYTE> shortBy1(8, 0xEE);
  EXPECT_EQ(merro::transport::PackDeviceNames(names, shortBy1.data(), 7), 4u);
  EXPECT_EQ(std::vector<BYTE>(shortBy1.begin(), shortBy1.begin() + 4),
            (std::vector<BYTE>{'a', 'b', 0, 0}));
  EXPECT_EQ(shortBy1[7], 0xEE);
}

TEST(PackDeviceNames, NothingPackedIsLengthZero) {
  BYTE buf[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  EXPECT_EQ(merro::transport::PackDeviceNames({}, buf, 4), 0u);
  EXPECT_EQ(merro::transport::PackDeviceNames({"toolong"}, buf, 4), 0u);
  EXPECT_EQ(buf[0], 0xEE);
}

TEST(DeviceMutexName, IsTheInstancePartAfterRev) {
  const std::string guid = "#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}";
  const std::string longest(MR_MUTEX_NAME_LEN - 1, 'i');
  const std::string tooLong(MR_MUTEX_NAME_LEN, 'i');
  const struct {
    std::string path;
    MutexNameError error;
    std::string name;
  } cases[] = {
      {"\\\\?\\usbstor#cdrom&ven_m&prod_t&rev_1.00#7&2a&0&0" + guid, MutexNameError::None,
       "7&2a&0&0"},
      {"\\\\?\\usbstor#cdrom&ven_m&prod_t#7&2a" + guid, MutexNameError::NoRev, ""},
      {"\\\\?\\usbstor#cdrom&rev_1.00", MutexNameError::NoHashAfterRev, ""},
      {"\\\\?\\usbstor#cdrom&rev_1.00#7&2a&0", MutexNameError::NoHashAfterBegin, ""},
      {"x&rev_1#" + longest + guid, MutexNameError::None, longest},
      {"x&rev_1#" + tooLong + guid, MutexNameError::TooLong, ""},
  };
  for (const auto& c : cases) {
    std::string name;
    EXPECT_EQ(merro::transport::DeviceMutexNameFromPath(c.path, &name), c.error) << c.path;
    EXPECT_EQ(name, c.name);
  }
}

}  // namespace
