// The platform seam: named mutex across threads and processes, INI reading.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "foundation/platform.h"
#include "tests/support/child_process.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#endif

namespace fs = std::filesystem;
using merro::platform::NamedMutex;
using merro::platform::WaitResult;

namespace {

std::string UniqueName(const char* tag) {
  return std::string("merro-test-") + tag + "-" +
         std::to_string(std::chrono::steady_clock::now().time_since_epoch().count());
}

fs::path MarkerPath(const std::string& name) { return fs::temp_directory_path() / (name + ".ready"); }

// What a child process does with the mutex: hold it for a while and release
// it, or take it and die without releasing it.
int ChildMain(const std::string& mode, const std::string& name) {
  auto m = NamedMutex::Create(name);
  if (!m || m->Wait(5000) != WaitResult::Acquired) {
    return 2;
  }
  std::ofstream(MarkerPath(name)) << "ready";
  if (mode == "die") {
    return 0;  // exits owning the mutex
  }
  Sleep(1500);
  m->Release();
  return 0;
}

// A child process running ChildMain: natively a fork, on Windows this
// executable again with --child.
merro::testing::ChildProcess StartChild(const std::string& mode, const std::string& name) {
#ifdef _WIN32
  return merro::testing::ChildProcess::StartSelf({"--child", mode, name});
#else
  return merro::testing::ChildProcess::Fork([&] { return ChildMain(mode, name); });
#endif
}

void WaitForMarker(const std::string& name) { ASSERT_TRUE(merro::testing::WaitForFile(MarkerPath(name))); }

TEST(NamedMutex, OwnerMayReenterAndOthersMayNotRelease) {
  const std::string name = UniqueName("reenter");
  auto m = NamedMutex::Create(name);
  ASSERT_TRUE(m);
  EXPECT_EQ(m->Wait(0), WaitResult::Acquired);
  EXPECT_EQ(m->Wait(0), WaitResult::Acquired);

  std::thread other([&] {
    auto same = NamedMutex::Open(name);
    ASSERT_TRUE(same);
    EXPECT_FALSE(same->Release());                     // not the owner
    EXPECT_EQ(same->Wait(50), WaitResult::Timeout);    // still held twice
  });
  other.join();

  EXPECT_TRUE(m->Release());
  std::thread stillHeld([&] { EXPECT_EQ(NamedMutex::Open(name)->Wait(50), WaitResult::Timeout); });
  stillHeld.join();
  EXPECT_TRUE(m->Release());
  EXPECT_FALSE(m->Release());
  std::thread free([&] {
    auto same = NamedMutex::Open(name);
    EXPECT_EQ(same->Wait(0), WaitResult::Acquired);
    EXPECT_TRUE(same->Release());
  });
  free.join();
}

TEST(NamedMutex, OpenFailsWhenAbsent) {
  EXPECT_EQ(NamedMutex::Open(UniqueName("absent")), nullptr);
}

#ifndef _WIN32
// An object under the name that is not a whole block (creators publish only
// whole ones, so a foreign writer's): opening the name fails at once, and
// does not crash on the empty mapping.
TEST(NamedMutex, OpenOfAnUnsizedObjectFailsCleanly) {
  const std::string name = UniqueName("unsized");
  const std::string shm = "/merro-mutex-" + std::to_string(getuid()) + "-" + name;
  const int fd = shm_open(shm.c_str(), O_RDWR | O_CREAT | O_EXCL, 0600);
  ASSERT_GE(fd, 0);
  close(fd);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(NamedMutex::Open(name), nullptr);
  EXPECT_EQ(NamedMutex::Create(name), nullptr);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(500));
  shm_unlink(shm.c_str());
}

// The next process after a creator was killed: every name the creator
// reached opens at once and works as a mutex, up to the first one it never
// published, which this process creates. 0, or the step that failed.
int UseNamesAfterTheCreator(const std::string& base) {
  for (int i = 0; i < 100000; ++i) {
    const auto start = std::chrono::steady_clock::now();
    auto m = NamedMutex::Create(base + std::to_string(i));
    const bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
    if (!m) {
      return 10;
    }
    if (m->Wait(0) != WaitResult::Acquired || !m->Release()) {
      return 11;
    }
    if (std::chrono::steady_clock::now() - start > std::chrono::milliseconds(500)) {
      return 12;
    }
    if (!existed) {
      return 0;
    }
  }
  return 13;
}

// Shared objects in /dev/shm whose names hold text: the test's own (its
// mutexes and any temporaries left behind).
std::vector<fs::path> SharedObjectsNamed(const std::string& text) {
  std::vector<fs::path> found;
  for (const auto& entry : fs::directory_iterator("/dev/shm")) {
    if (entry.path().filename().string().find(text) != std::string::npos) {
      found.push_back(entry.path());
    }
  }
  return found;
}

// Creation is all-or-nothing as other processes see it: a creator killed at
// any moment (here while it creates one name after another as fast as it
// can) leaves every name usable for the next process, and no temporary
// object of the name that process creates.
TEST(NamedMutex, ACreatorKilledAnywhereLeavesTheNameUsable) {
  const std::string prefix = UniqueName("killed");
  std::mt19937 random(std::random_device{}());
  for (int attempt = 0; attempt < 20; ++attempt) {
    SCOPED_TRACE(attempt);
    const std::string base = prefix + "-" + std::to_string(attempt) + "-";
    int started[2];
    ASSERT_EQ(pipe(started), 0);
    merro::testing::ChildProcess creator = merro::testing::ChildProcess::Fork([&] {
      const char go = 'g';
      if (write(started[1], &go, 1) != 1) {
        return 2;
      }
      for (int i = 0;; ++i) {
        NamedMutex::Create(base + std::to_string(i));
      }
    });
    char go = 0;
    ASSERT_EQ(read(started[0], &go, 1), 1);
    close(started[0]);
    close(started[1]);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
    creator.Kill();
    creator.Join();

    merro::testing::ChildProcess next =
        merro::testing::ChildProcess::Fork([&] { return UseNamesAfterTheCreator(base); });
    EXPECT_EQ(next.Join(), 0);
    for (const fs::path& p : SharedObjectsNamed(base)) {
      EXPECT_EQ(p.filename().string().find(".tmp"), std::string::npos) << p;
    }
  }
  for (const fs::path& p : SharedObjectsNamed(prefix)) {
    fs::remove(p);
  }
}
#endif

TEST(NamedMutex, SecondProcessBlocksUntilRelease) {
  const std::string name = UniqueName("proc");
  auto m = NamedMutex::Create(name);
  ASSERT_TRUE(m);
  merro::testing::ChildProcess child = StartChild("hold", name);
  EXPECT_TRUE(child.Started());
  WaitForMarker(name);
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(m->Wait(100), WaitResult::Timeout);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(90));
  EXPECT_EQ(m->Wait(10000), WaitResult::Acquired);
  EXPECT_TRUE(m->Release());
  EXPECT_EQ(child.Join(), 0);
  fs::remove(MarkerPath(name));
}

TEST(NamedMutex, DeadOwnerShowsAsAbandonedAndOwnershipIsTaken) {
  const std::string name = UniqueName("dead");
  auto m = NamedMutex::Create(name);
  ASSERT_TRUE(m);
  merro::testing::ChildProcess child = StartChild("die", name);
  EXPECT_TRUE(child.Started());
  WaitForMarker(name);
  EXPECT_EQ(child.Join(), 0);
  EXPECT_EQ(m->Wait(5000), WaitResult::Abandoned);
  EXPECT_TRUE(m->Release());
  EXPECT_EQ(m->Wait(0), WaitResult::Acquired);
  EXPECT_TRUE(m->Release());
  fs::remove(MarkerPath(name));
}

class Profile : public ::testing::Test {
 protected:
  void SetUp() override {
    m_path = fs::temp_directory_path() / (UniqueName("ini") + ".ini");
    std::ofstream(m_path) << "; comment\n"
                             "[User]\n"
                             "Pin = \"123456\"\n"
                             "Count=  12  \n"
                             "Hex=0x1F\n"
                             "Neg=-3\n"
                             "Junk=abc\n"
                             "Mixed=42abc\n"
                             "[Manager]\n"
                             "pin=admin1\n";
  }
  void TearDown() override { fs::remove(m_path); }
  std::string Read(const char* sec, const char* key, const char* def, DWORD size = 64) {
    std::string buf(size, '\x7F');
    const DWORD n = GetPrivateProfileStringA(sec, key, def, buf.data(), size, m_path.string().c_str());
    return buf.substr(0, n);
  }
  UINT Int(const char* sec, const char* key, int def) {
    return GetPrivateProfileIntA(sec, key, def, m_path.string().c_str());
  }
  fs::path m_path;
};

TEST_F(Profile, StringsWithDefaultsCaseAndQuotes) {
  EXPECT_EQ(Read("User", "Pin", "x"), "123456");
  EXPECT_EQ(Read("user", "PIN", "x"), "123456");
  EXPECT_EQ(Read("MANAGER", "Pin", "x"), "admin1");
  EXPECT_EQ(Read("Unlock", "Pin", "dflt  "), "dflt");
  EXPECT_EQ(Read("User", "Missing", nullptr), "");
  EXPECT_EQ(Read("User", "Pin", "x", 4), "123");  // truncated to the buffer
  char buf[16];
  EXPECT_EQ(GetPrivateProfileStringA("User", "Pin", "none", buf, sizeof buf, "/no/such/file.ini"), 4u);
  EXPECT_STREQ(buf, "none");
}

TEST_F(Profile, NameListsAreTruncatedWithinTheBuffer) {
  EXPECT_EQ(Read(nullptr, nullptr, nullptr), std::string("User\0Manager\0", 13));
  EXPECT_EQ(Read("User", nullptr, nullptr, 7), std::string("Pin\0C", 5));
  // "User" and its zero fill all but the last octet: the next name has no
  // room at all, and nothing is written past the buffer.
  std::string buf(8, '\x7F');
  EXPECT_EQ(GetPrivateProfileStringA(nullptr, nullptr, nullptr, buf.data(), 6,
                                     m_path.string().c_str()),
            4u);
  EXPECT_EQ(buf.substr(0, 5), std::string("User\0", 5));
  EXPECT_EQ(buf.substr(6), "\x7F\x7F");
}

TEST_F(Profile, NumbersAreParsedAsWindowsDoes) {
  EXPECT_EQ(Int("User", "Count", 5), 12u);
  EXPECT_EQ(Int("User", "Hex", 5), 31u);
  EXPECT_EQ(Int("User", "Neg", 5), static_cast<UINT>(-3));
  EXPECT_EQ(Int("User", "Junk", 5), 0u);
  EXPECT_EQ(Int("User", "Mixed", 5), 42u);
  EXPECT_EQ(Int("User", "Missing", 5), 5u);
  EXPECT_EQ(GetPrivateProfileIntA("User", "Count", 9, "/no/such/file.ini"), 9u);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--child") {
    return ChildMain(argv[2], argv[3]);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
