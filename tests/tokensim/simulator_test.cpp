// The simulator around the tokens: wire requests, the control channel,
// insertion, and the image file.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "tokensim/core/simulator.h"

namespace merro::tokensim {
namespace {

using merro::sim::WireOp;
namespace fs = std::filesystem;

constexpr std::uint32_t kInvalidFunction = 1, kFileNotFound = 2, kInvalidHandle = 6,
                        kInvalidParameter = 87, kNotConnected = 1167;

Bytes Cdb() {
  Bytes cdb(10, 0);
  cdb[0] = 0xFF;
  return cdb;
}

class SimulatorWire : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    m_sim = Simulator::Create({2, ""}, &error);
    ASSERT_TRUE(m_sim) << error;
  }
  merro::sim::WireResponse Call(Session& s, WireOp op, Bytes payload) {
    return m_sim->Handle(s, {op, std::move(payload)});
  }
  std::uint32_t Open(Session& s, size_t token) {
    const std::string path = m_sim->DevicePath(token);
    return Call(s, WireOp::Open, Bytes(path.begin(), path.end())).result;
  }
  // One exchange; the data-in transfer, or empty when either transfer failed.
  Bytes Exchange(Session& s, const Bytes& frame, std::uint32_t* pResult = nullptr) {
    Bytes out = Cdb();
    out.insert(out.end(), frame.begin(), frame.end());
    std::uint32_t result = Call(s, WireOp::DataOut, out).result;
    Bytes transfer;
    if (result == 0) {
      Bytes in = Cdb();
      in.insert(in.end(), {0x00, 0x01, 0x00, 0x00});
      const auto reply = Call(s, WireOp::DataIn, in);
      result = reply.result;
      transfer = reply.payload;
    }
    if (pResult) {
      *pResult = result;
    }
    return transfer;
  }
  std::string Control(const std::string& command, bool expectOk = true) {
    std::string answer;
    EXPECT_EQ(m_sim->Control(command, &answer), expectOk) << command << ": " << answer;
    return answer;
  }
  std::unique_ptr<Simulator> m_sim;
};

TEST_F(SimulatorWire, TransportLevelRefusals) {
  Session s;
  std::uint32_t result = 0;
  Exchange(s, {0xB0, 0x93, 0, 0, 0, 8}, &result);
  EXPECT_EQ(result, kInvalidHandle);
  EXPECT_EQ(Call(s, WireOp::Open, {'x'}).result, kFileNotFound);
  ASSERT_EQ(Open(s, 0), 0u);
  Bytes badCdb(10, 0);
  EXPECT_EQ(Call(s, WireOp::DataOut, badCdb).result, kInvalidFunction);
  EXPECT_EQ(Call(s, WireOp::DataIn, Cdb()).result, kInvalidParameter);  // no length

  // A data-in with no command before it, and a malformed frame.
  Bytes in = Cdb();
  in.insert(in.end(), {0x00, 0x01, 0x00, 0x00});
  const auto none = Call(s, WireOp::DataIn, in);
  EXPECT_EQ(Bytes(none.payload.begin(), none.payload.begin() + 3), (Bytes{0x69, 0x85, 0x00}));
  const Bytes reply = Exchange(s, {0xB0, 0x93, 0, 0, 3, 8});
  EXPECT_EQ(Bytes(reply.begin(), reply.begin() + 3), (Bytes{0x67, 0x00, 0x00}));

  // Not even a header: no answer at all; a header with a wrong length: refused.
  EXPECT_TRUE(m_sim->HandleMessage(s, reinterpret_cast<const std::uint8_t*>("GET /"), 5).empty());
  const std::uint8_t cutShort[] = {'M', 'S', 3, 0, 9, 0, 0, 0, 0xFF};
  const Bytes answer = m_sim->HandleMessage(s, cutShort, sizeof cutShort);
  ASSERT_EQ(answer.size(), merro::sim::kResponseHeaderLen);
  EXPECT_EQ(answer[4], kInvalidParameter);
}

TEST_F(SimulatorWire, PulledTokenDisappearsAndItsSessionsStayDead) {
  Session s;
  ASSERT_EQ(Open(s, 1), 0u);
  Control("pull 1");
  std::vector<merro::sim::WireDevice> devices;
  ASSERT_TRUE(merro::sim::DecodeDeviceList(Call(s, WireOp::Enumerate, {}).payload, &devices));
  ASSERT_EQ(devices.size(), 1u);
  EXPECT_EQ(devices[0].path, m_sim->DevicePath(0));
  std::uint32_t result = 0;
  Exchange(s, {0xB0, 0x93, 0, 0, 0, 8}, &result);
  EXPECT_EQ(result, kNotConnected);
  EXPECT_EQ(Open(s, 1), kFileNotFound);

  Control("insert 1");
  Exchange(s, {0xB0, 0x93, 0, 0, 0, 8}, &result);
  EXPECT_EQ(result, kNotConnected);  // a handle from before the pull stays invalid
  ASSERT_EQ(Open(s, 1), 0u);
  EXPECT_EQ(Exchange(s, {0xB0, 0x93, 0, 0, 0, 8})[2], 8);
}

TEST_F(SimulatorWire, FaultsHitTheMatchingCommands) {
  Session s;
  ASSERT_EQ(Open(s, 0), 0u);
  const Bytes chipSn = {0xB0, 0x93, 0, 0, 0, 8};
  const Bytes cos = {0xB0, 0x62, 0, 0, 0, 5};
  Control("fault 0 sw 6A88 ins 93 skip 1");
  Control("fault 0 short 2 ins 62");
  EXPECT_EQ(Exchange(s, chipSn)[0], 0x90);  // skipped
  EXPECT_EQ(Exchange(s, cos)[2], 2);        // cut to two bytes
  const Bytes refused = Exchange(s, chipSn);
  EXPECT_EQ(Bytes(refused.begin(), refused.begin() + 3), (Bytes{0x6A, 0x88, 0x00}));
  EXPECT_EQ(Exchange(s, chipSn)[0], 0x90);  // used up
  Control("fault 0 drop count 2");
  std::uint32_t result = 0;
  Exchange(s, cos, &result);
  EXPECT_EQ(result, 121u);
  Control("fault 0 clear");
  Exchange(s, cos, &result);
  EXPECT_EQ(result, 0u);
}

TEST_F(SimulatorWire, TheCommandLogListsTheInsOfWhatATokenReceived) {
  Session s;
  ASSERT_EQ(Open(s, 0), 0u);
  EXPECT_EQ(Control("log 0"), "");
  Exchange(s, {0xB0, 0x93, 0, 0, 0, 8});
  Exchange(s, {0xB0, 0x62, 0, 0, 0, 5});
  Exchange(s, {0xB0, 0x62, 0, 0, 3, 5});  // malformed, but received
  EXPECT_EQ(Call(s, WireOp::DataOut, Bytes(12, 0)).result, kInvalidFunction);  // not a command
  EXPECT_EQ(Control("log 0"), "93 62 62");
  EXPECT_EQ(Control("log 1"), "");
  Control("log 0 clear");
  EXPECT_EQ(Control("log 0"), "");
  Exchange(s, {0xB0, 0xA4, 0, 0, 2, 0, 0x00, 0x3F});
  EXPECT_EQ(Control("log 0"), "A4");
}

TEST_F(SimulatorWire, ControlCommandsAreCheckedWordByWord) {
  const char* refused[] = {"",          "bogus",            "pull",          "pull 7",
                           "pull x",    "fault 0",          "fault 0 sw 12345", "fault 0 short 253",
                           "fault 0 drop ins", "fault 0 drop ins 1FF", "fault 0 drop count 0",
                           "button 0 maybe", "button 0 ok after", "display 0 everything",
                           "button 0 release ok", "button 0 release maybe", "button 0 hold 3",
                           "log", "log 0 everything"};
  for (const char* command : refused) {
    EXPECT_EQ(Control(command, false).rfind("error: ", 0), 0u) << command;
  }
  Control("button 0 ok after 3");
  Control("button 0 clear");
  const std::string list = Control("list");
  EXPECT_NE(list.find("0 present " + m_sim->DevicePath(0)), std::string::npos);
  EXPECT_NE(list.find("1 present " + m_sim->DevicePath(1)), std::string::npos);
}

// The control commands of the README's table, as a reader would type them:
// placeholders filled in, optional parts given, the first of each set of
// alternatives.
std::vector<std::string> ReadmeControlCommands() {
  std::ifstream readme(MERRO_TOKENSIM_README);
  std::vector<std::string> commands;
  bool inSection = false;
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind("## ", 0) == 0) {
      inSection = line == "## Control channel";
    }
    if (!inSection || line.rfind("| `", 0) != 0) {
      continue;
    }
    const std::string cell = line.substr(0, line.find(" | "));
    for (size_t at = cell.find('`'); at != std::string::npos; at = cell.find('`', at)) {
      const size_t end = cell.find('`', at + 1);
      std::istringstream words(cell.substr(at + 1, end - at - 1));
      std::string command;
      for (std::string word; words >> word;) {
        word.erase(std::remove_if(word.begin(), word.end(), [](char c) { return c == '[' || c == ']'; }),
                   word.end());
        word = word.substr(0, word.find("\\|"));
        const std::map<std::string, std::string> filled = {
            {"<i>", "0"}, {"N", "2"}, {"P", "135790"}, {"XXXX", "6A88"}, {"XX", "93"}};
        const auto fill = filled.find(word);
        command += (command.empty() ? "" : " ") + (fill != filled.end() ? fill->second : word);
      }
      commands.push_back(command);
      at = end + 1;
    }
  }
  return commands;
}

TEST_F(SimulatorWire, EveryControlCommandOfTheReadmeRuns) {
  const std::vector<std::string> commands = ReadmeControlCommands();
  EXPECT_GE(commands.size(), 17u);
  for (const std::string& command : commands) {
    Control(command);
  }
  // Provisioning takes keywords in any order, never bare values.
  Control("provision 1 retry 3 admin 12345678");
  EXPECT_EQ(Control("provision 1 123456 12345678", false).rfind("error: ", 0), 0u);
}

TEST_F(SimulatorWire, DeviceNamesKeepTheInterfacePathShape) {
  const std::string path = m_sim->DevicePath(0);
  EXPECT_EQ(path.rfind("\\\\?\\usbstor#cdrom&ven_merro&prod_token&rev_1.00#7&", 0), 0u);
  EXPECT_NE(path.find("&0#{53f56308-b6bf-11d0-94f2-00a0c91efb8b}"), std::string::npos);
  EXPECT_EQ(m_sim->ParentInstanceId(1).rfind("USB\\VID_2F3D&PID_0301\\", 0), 0u);
  EXPECT_NE(m_sim->DevicePath(0), m_sim->DevicePath(1));
}

struct Counter : TokenExtension {
  static constexpr const char* kName = "counter";
  void Save(merro::sim::ByteWriter& out) const override { out.U32(value); }
  bool Load(merro::sim::ByteReader& in) override { return in.U32(&value) && in.AtEnd(); }
  void Erase() override { value = 0; }
  std::uint32_t value = 0;
};

class ImageFile : public ::testing::Test {
 protected:
  void SetUp() override {
    m_path = fs::temp_directory_path() /
             ("merro-t3-image-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  }
  void TearDown() override { fs::remove(m_path); }
  fs::path m_path;
};

TEST_F(ImageFile, TokensSurviveARestart) {
  std::string error;
  std::string path0, path1;
  {
    auto sim = Simulator::Create({2, m_path.string()}, &error);
    ASSERT_TRUE(sim) << error;
    path0 = sim->DevicePath(0);
    path1 = sim->DevicePath(1);
    sim->WithToken(1, [](Token& t) {
      FileDescription d{};
      d[0] = 0x02;
      d[2] = 0x20;
      ASSERT_EQ(t.Files().Create(d), sw::kOk);
      t.Files().Find(0x0002)->content[5] = 0x55;
      const std::uint8_t data[3] = {7, 8, 9};
      t.WriteFlash(0x1FFFFD, data, 3);
      t.Label() = {'L', '1'};
      t.Ext<Counter>().value = 42;
      t.MarkDirty();
    });
    ASSERT_TRUE(sim->SaveImage(false, &error)) << error;
  }
  {
    auto sim = Simulator::Create({1, m_path.string()}, &error);
    ASSERT_TRUE(sim) << error;
    ASSERT_EQ(sim->TokenCount(), 2u);
    EXPECT_EQ(sim->DevicePath(0), path0);
    EXPECT_EQ(sim->DevicePath(1), path1);
    // Saved again without the extension being touched: its state is kept.
    sim->WithToken(0, [](Token& t) { t.MarkDirty(); });
    ASSERT_TRUE(sim->SaveImage(false, &error)) << error;
  }
  auto sim = Simulator::Create({3, m_path.string()}, &error);
  ASSERT_TRUE(sim) << error;
  EXPECT_EQ(sim->TokenCount(), 3u);
  sim->WithToken(1, [](Token& t) {
    ASSERT_NE(t.Files().Find(0x0002), nullptr);
    EXPECT_EQ(t.Files().Find(0x0002)->content[5], 0x55);
    EXPECT_EQ(t.Files().Find(0x0002)->content[4], 0xFF);
    Bytes flash;
    t.ReadFlash(0x1FFFFC, 4, &flash);
    EXPECT_EQ(flash, (Bytes{0xFF, 7, 8, 9}));
    EXPECT_EQ(t.Label(), (Bytes{'L', '1'}));
    EXPECT_EQ(t.Ext<Counter>().value, 42u);
  });
}

TEST_F(ImageFile, AMalformedImageIsRefusedWithAReason) {
  std::string error;
  {
    auto sim = Simulator::Create({1, m_path.string()}, &error);
    ASSERT_TRUE(sim) << error;
  }
  const auto size = fs::file_size(m_path);
  fs::resize_file(m_path, size - 3);
  EXPECT_FALSE(Simulator::Create({1, m_path.string()}, &error));
  EXPECT_NE(error.find("cut short"), std::string::npos) << error;

  std::ofstream(m_path, std::ios::binary | std::ios::trunc) << "not an image at all";
  EXPECT_FALSE(Simulator::Create({1, m_path.string()}, &error));
  EXPECT_NE(error.find("not a token image"), std::string::npos) << error;
}

}  // namespace
}  // namespace merro::tokensim
