#include "tests/tokenapi/api/api_test_support.h"

#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>
#include <thread>

#include "foundation/trace/trace.h"
#include "tokenapi/transport/merro_transport.h"

namespace merro::apitest {
namespace {

std::string Narrow(const std::vector<std::uint8_t>& utf16) {
  std::string out;
  for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
    const unsigned unit = utf16[i] | (utf16[i + 1] << 8);
    if (unit == 0) {
      break;
    }
    out.push_back(unit < 0x80 ? static_cast<char>(unit) : '?');
  }
  return out;
}

std::uint32_t Dword(const std::vector<std::uint8_t>& b) {
  return b.size() < 4 ? 0 : b[0] | (b[1] << 8) | (b[2] << 16) | (std::uint32_t{b[3]} << 24);
}

}  // namespace

TraceLines::TraceLines() {
  merro::trace::SetSink([this](const merro::trace::Record& r) {
    m_records.push_back(r);
    if ((r.number == merro::trace::kMsgFailureLine || r.number == merro::trace::kMsgStepLine) &&
        r.args.size() == 2) {
      m_lines.push_back(
          {r.number == merro::trace::kMsgFailureLine, Narrow(r.args[0]), Dword(r.args[1])});
    }
  });
  merro::trace::SetEnableFlags(0xFFFFFFFF);
}

TraceLines::~TraceLines() {
  merro::trace::SetSink({});
  merro::trace::SetEnableFlags(0);
}

std::vector<TraceLines::Line> TraceLines::Of(const std::string& function) const {
  std::vector<Line> out;
  for (const Line& l : m_lines) {
    if (l.text.rfind(function + " - ", 0) == 0) {
      out.push_back(l);
    }
  }
  return out;
}

const TraceLines::Line* TraceLines::FirstFailure(const std::string& function) const {
  for (const Line& l : m_lines) {
    if (l.failure && l.text.rfind(function + " - ", 0) == 0) {
      return &l;
    }
  }
  return nullptr;
}

std::vector<std::vector<std::vector<std::uint8_t>>> TraceLines::Values(
    const merro::trace::Guid& guid, std::uint16_t number) const {
  std::vector<std::vector<std::vector<std::uint8_t>>> out;
  for (const merro::trace::Record& r : m_records) {
    if (r.messageGuid == guid && r.number == number) {
      out.push_back(r.args);
    }
  }
  return out;
}

size_t TraceLines::Entries(const std::string& function) const {
  size_t n = 0;
  for (const merro::trace::Record& r : m_records) {
    if (r.number == merro::trace::kMsgFunctionEntry && r.args.size() == 1 &&
        std::string(r.args[0].begin(), r.args[0].end()) == function + std::string(1, '\0')) {
      ++n;
    }
  }
  return n;
}

std::string TraceLines::Text(const std::vector<std::uint8_t>& arg) { return Narrow(arg); }

std::uint32_t TraceLines::Dword(const std::vector<std::uint8_t>& arg) {
  return merro::apitest::Dword(arg);
}

bool TraceLines::HasFailureLine(const std::string& function, const std::string& step) const {
  const std::string part = "] " + function + " - " + step + " [Reason:";
  for (const Line& l : m_lines) {
    if (l.failure && l.text.find(part) != std::string::npos) {
      return true;
    }
  }
  return false;
}

bool TraceLines::Has(const std::string& text) const {
  for (const Line& l : m_lines) {
    if (l.text == text) {
      return true;
    }
  }
  return false;
}

MutexContext::MutexContext() {
  // Unique across the test processes that run at the same time.
  static std::atomic<int> counter{0};
  std::random_device random;
  std::snprintf(m_ctx.szMutexName, sizeof m_ctx.szMutexName, "merro-api-test-%08x-%d",
                static_cast<unsigned>(random()), counter.fetch_add(1));
  MerroCreateMutex(&m_ctx);
}

MutexContext::~MutexContext() { MerroCloseMutex(&m_ctx); }

bool MutexFreeForOtherThread(const char* pszMutexName) {
  bool free = false;
  std::thread other([&] {
    bool acquired = false;
    if (merro::transport::WaitDevMutexHeld(pszMutexName, 0, &acquired) == 0 && acquired) {
      free = true;
      MerroReleaseMutex(pszMutexName);
    }
  });
  other.join();
  return free;
}

}  // namespace merro::apitest
