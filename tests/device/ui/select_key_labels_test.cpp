// The labels of the token selection dialog, made from the device list.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/ui/select_key_dialog.h"

namespace {

using merro::device::DeviceItem;
using merro::ui::CSelectKeyDlg;

DeviceItem Device(const char* label) {
  DeviceItem item = {};
  std::strncpy(item.szDeviceLabel, label, sizeof(item.szDeviceLabel) - 1);
  return item;
}

std::vector<std::wstring> Labels(const std::vector<DeviceItem>& devices) {
  auto dialog = std::make_unique<CSelectKeyDlg>();
  EXPECT_EQ(dialog->SetSelectedKey(devices), S_OK);
  std::vector<std::wstring> labels;
  for (size_t i = 0; i < dialog->LabelCount(); ++i) {
    labels.push_back(dialog->Label(i));
  }
  return labels;
}

struct LabelCase {
  const char* name;
  std::vector<const char*> labels;  // "" for a token without one
  std::vector<std::wstring> expected;
};

TEST(SelectKeyLabels, Table) {
  const LabelCase cases[] = {
      {"none", {}, {}},
      {"unlabelled tokens count from 1; a labelled one between them uses no number",
       {"", "Office", ""},
       {L"Merro30 Key--(1)", L"Office", L"Merro30 Key--(2)"}},
      {"a UTF-8 label arrives as its UTF-16 text",
       {"\xE6\xB5\x8B\xE8\xAF\x95Key \xE4\xBB\xA4\xE7\x89\x8C"},
       {L"\x6D4B\x8BD5Key \x4EE4\x724C"}},
      {"ill-formed UTF-8 becomes U+FFFD", {"ab\xFF"}, {L"ab\xFFFD"}},
  };
  for (const LabelCase& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<DeviceItem> devices;
    for (const char* label : c.labels) {
      devices.push_back(Device(label));
    }
    EXPECT_EQ(Labels(devices), c.expected);
  }
}

// The list has 64 rows: more tokens than that never write past them, and
// each row still is its token's index in the device list.
TEST(SelectKeyLabels, SeventyTokensGiveTheFirstSixtyFour) {
  std::vector<DeviceItem> devices(70, Device(""));
  devices[5] = Device("Sixth");
  const std::vector<std::wstring> labels = Labels(devices);
  ASSERT_EQ(labels.size(), 64u);
  EXPECT_EQ(labels[0], L"Merro30 Key--(1)");
  EXPECT_EQ(labels[5], L"Sixth");
  EXPECT_EQ(labels[6], L"Merro30 Key--(6)");
  EXPECT_EQ(labels[63], L"Merro30 Key--(63)");
}

// A label that fills its whole array has no terminator: it is read within
// the array (not on into the context pointer behind it) and cut to the
// row's 259 characters.
TEST(SelectKeyLabels, LabelFillingItsArrayStaysInside) {
  DeviceItem full = {};
  std::memset(full.szDeviceLabel, 'x', sizeof(full.szDeviceLabel));
  const std::vector<std::wstring> labels = Labels({full});
  ASSERT_EQ(labels.size(), 1u);
  EXPECT_EQ(labels[0], std::wstring(CSelectKeyDlg::kLabelChars - 1, L'x'));
}

}  // namespace
