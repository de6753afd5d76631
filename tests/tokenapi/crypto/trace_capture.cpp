#include "tests/tokenapi/crypto/trace_capture.h"

namespace merro::crypto::test {

namespace {
std::u16string Utf16Arg(const std::vector<std::uint8_t>& arg) {
  std::u16string text;
  for (size_t i = 0; i + 1 < arg.size(); i += 2) {
    const auto c = static_cast<char16_t>(arg[i] | (arg[i + 1] << 8));
    if (c == 0) {
      break;
    }
    text.push_back(c);
  }
  return text;
}
}  // namespace

TraceCapture::TraceCapture() {
  trace::SetSink([this](const trace::Record& r) {
    const bool failure = r.number == trace::kMsgFailureLine;
    if ((!failure && r.number != trace::kMsgStepLine) || r.args.size() < 2 ||
        r.args[1].size() < 4) {
      return;
    }
    const auto& v = r.args[1];
    m_lines.push_back({failure, Utf16Arg(r.args[0]),
                       v[0] | (v[1] << 8) | (v[2] << 16) | (std::uint32_t{v[3]} << 24)});
  });
  trace::SetEnableFlags(0xFFFFFFFF);
}

TraceCapture::~TraceCapture() {
  trace::SetSink({});
  trace::SetEnableFlags(0);
}

bool TraceCapture::FindFailure(const std::u16string& text, std::uint32_t* result) const {
  for (const auto& line : m_lines) {
    if (line.failure && line.text.find(text) != std::u16string::npos) {
      *result = line.result;
      return true;
    }
  }
  return false;
}

bool TraceCapture::HasStep(const std::u16string& text) const {
  for (const auto& line : m_lines) {
    if (!line.failure && line.text.find(text) != std::u16string::npos) {
      return true;
    }
  }
  return false;
}

}  // namespace merro::crypto::test
