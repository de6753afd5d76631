// The device lists' rules that need no token: the walk of EnumDevice's name
// list, the bounded name copy and container-name compare, and the look-ups.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "device/device_lists.h"

namespace {

using merro::device::ContainerItem;
using merro::device::DeviceItem;
using merro::device::kDeviceNameChars;


TEST(DeviceNameList, NamesWithinTheList) {
  const std::string n259(259, 'n');
  const std::string n260(260, 'm');
  const struct {
    const char* what;
    std::string list;
    std::vector<std::string> names;
  } cases[] = {
      {"two names and the end", std::string("A\0B\0\0", 5), {"A", "B"}},
      {"empty list", std::string("\0\0", 2), {}},
      {"an empty name ends it", std::string("A\0\0B\0\0", 6), {"A"}},
      {"full buffer, last name terminated", std::string("A\0B\0", 4), {"A", "B"}},
      {"full buffer without a final zero", std::string("A\0BCD", 5), {"A"}},
      {"the size cuts a name", std::string("A\0BCD\0\0", 4), {"A"}},
      {"259 bytes fit", n259 + std::string("\0B\0\0", 4), {n259, "B"}},
      {"a 260-byte name is skipped, the next kept", n260 + std::string("\0B\0\0", 4), {"B"}},
      {"a 260-byte name at the end, unterminated", "A" + std::string(1, '\0') + n260, {"A"}},
  };
  for (const auto& c : cases) {
    std::vector<std::string> names{"stale"};
    EXPECT_EQ(merro::device::ListDeviceNames(c.list.data(), static_cast<DWORD>(c.list.size()), &names),
              S_OK)
        << c.what;
    EXPECT_EQ(names, c.names) << c.what;
  }
}

TEST(DeviceNameList, CopyNameNeverCutsAName) {
  char field[kDeviceNameChars];
  const std::string n259(259, 'x');
  EXPECT_TRUE(merro::device::CopyName(field, n259.c_str(), n259.size() + 1));
  EXPECT_EQ(std::string(field), n259);
  const std::string n260(260, 'y');
  EXPECT_FALSE(merro::device::CopyName(field, n260.c_str(), n260.size() + 1));
  EXPECT_EQ(field[0], '\0');
  // Bounded by the length given: a label without its zero byte.
  const char label[3] = {'a', 'b', 'c'};
  EXPECT_TRUE(merro::device::CopyName(field, label, 2));
  EXPECT_STREQ(field, "ab");
  EXPECT_FALSE(merro::device::CopyName(field, nullptr, 1));
}

CONTAINER_RECORD Record(const std::string& name) {
  CONTAINER_RECORD r;
  std::memset(&r, 0, sizeof r);
  std::memcpy(r.szContainerName, name.data(), std::min<size_t>(name.size(), sizeof r.szContainerName));
  return r;
}

TEST(ContainerNames, CompareWithinTheRecordsSixtyFourBytes) {
  const std::string n63(63, 'c'), n64(64, 'd'), n65(65, 'd');
  const struct {
    std::string stored;
    std::string asked;
    bool match;
  } cases[] = {
      {"ctr", "ctr", true},        {"ctr", "CTR", false},       {"ctr", "ctr2", false},
      {"ctr2", "ctr", false},      {n63, n63, true},            {n64, n64, true},
      {n64, n65, false},           {n64, n64.substr(0, 63), false}, {"", "", true},
  };
  for (const auto& c : cases) {
    const CONTAINER_RECORD r = Record(c.stored);
    EXPECT_EQ(merro::device::ContainerNameIs(r, c.asked.c_str()), c.match)
        << c.stored.size() << " / " << c.asked;
  }
  EXPECT_FALSE(merro::device::ContainerNameIs(Record("x"), nullptr));
}

class Lookups : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* name : {"dev-A", "dev-a", "dev-B"}) {
      DeviceItem item;
      std::strcpy(item.szDeviceName, name);
      m_devices.push_back(item);
    }
    Add(0, "dev-A", "shared");
    Add(0, "dev-A", std::string(64, 'L'));
    Add(2, "dev-B", "only-on-B");
    Add(2, "dev-B", "shared");
  }
  void Add(DWORD index, const char* device, const std::string& container) {
    const CONTAINER_RECORD r = Record(container);
    ASSERT_EQ(merro::device::AppendContainers(&m_containers, index, device, &r, 1), S_OK);
  }
  std::vector<DeviceItem> m_devices;
  std::vector<ContainerItem> m_containers;
};

TEST_F(Lookups, DevicesByExactName) {
  EXPECT_EQ(merro::device::FindDevice(m_devices, "dev-A"), 0);
  EXPECT_EQ(merro::device::FindDevice(m_devices, "dev-a"), 1);  // case counts
  EXPECT_EQ(merro::device::FindDevice(m_devices, "dev-B"), 2);
  EXPECT_EQ(merro::device::FindDevice(m_devices, "dev"), -1);
  EXPECT_EQ(merro::device::FindDevice(m_devices, "dev-AA"), -1);
  EXPECT_EQ(merro::device::FindDevice(m_devices, nullptr), -1);
  m_devices.push_back(m_devices[0]);
  EXPECT_EQ(merro::device::FindDevice(m_devices, "dev-A"), 0);  // the first match
}

TEST_F(Lookups, ContainersByDeviceAndName) {
  const std::string n64(64, 'L');
  const struct {
    const char* device;
    std::string container;
    int index;
  } cases[] = {
      {"dev-A", "shared", 0},   {"dev-B", "shared", 3},   {"dev-A", "only-on-B", -1},
      {"dev-B", "only-on-B", 2}, {"dev-a", "shared", -1},  {"dev-A", "SHARED", -1},
      {"dev-A", n64, 1},        {"dev-A", n64 + "L", -1},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(merro::device::FindContainer(m_containers, c.device, c.container.c_str()), c.index)
        << c.device << " / " << c.container;
  }
  // The second form: the first token in list order that holds the name.
  EXPECT_EQ(merro::device::FindContainerOnAnyDevice(m_containers, "shared"), 0);
  EXPECT_EQ(merro::device::FindContainerOnAnyDevice(m_containers, "only-on-B"), 2);
  EXPECT_EQ(merro::device::FindContainerOnAnyDevice(m_containers, "none"), -1);
  EXPECT_EQ(merro::device::FindContainerOnAnyDevice(m_containers, nullptr), -1);
}

TEST_F(Lookups, ItemsOwnTheirRecordCopies) {
  ASSERT_EQ(m_containers.size(), 4u);
  EXPECT_EQ(m_containers[2].dwDeviceIndex, 2u);
  EXPECT_STREQ(m_containers[2].szDeviceName, "dev-B");
  ASSERT_NE(m_containers[2].pstContainer(), nullptr);
  EXPECT_EQ(m_containers[2].pstContainer(), m_containers[2].spContainer.get());
  // A copy handed out keeps the record after the list is emptied.
  const ContainerItem copy = m_containers[2];
  m_containers.clear();
  EXPECT_EQ(std::string(copy.pstContainer()->szContainerName), "only-on-B");
}

TEST(SelectionRows, OutsideTheListIsACancel) {
  EXPECT_TRUE(merro::device::IsRowOf(2, 0));
  EXPECT_TRUE(merro::device::IsRowOf(2, 1));
  EXPECT_FALSE(merro::device::IsRowOf(2, 2));
  EXPECT_FALSE(merro::device::IsRowOf(2, -1));
  EXPECT_FALSE(merro::device::IsRowOf(0, 0));
}

}  // namespace
