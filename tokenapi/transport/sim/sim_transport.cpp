#include "tokenapi/transport/sim/sim_transport.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>

#include "foundation/misc/hex_digit.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "foundation/wiped_bytes.h"

namespace merro::sim {
namespace {

constexpr DWORD kEnumerateTimeoutMs = 5000;
constexpr DWORD kErrorBadReply = 13;  // ERROR_INVALID_DATA

// The result of a response: 0, or the failure it reports. The daemon sends
// Win32 error values; any other value that is not 0 is a failure too. An
// HRESULT with a facility keeps its code; values the layers above would
// misread become ERROR_INVALID_DATA: -1 (their "see the last error") and
// 0x8000xxxx (a token's status word).
HRESULT ResultOf(const WireResponse& response) {
  const std::uint32_t r = response.result;
  if (r == 0) {
    return S_OK;
  }
  if ((r & 0x80000000u) == 0) {
    return FoldWin32Error(static_cast<LONG>(r));
  }
  const bool hasFacility = (r & 0x1FFF0000u) != 0;
  return r != 0xFFFFFFFFu && hasFacility ? static_cast<HRESULT>(r) : FoldWin32Error(kErrorBadReply);
}

// Open devices: one channel (session) each, found by a handle value that is
// never dereferenced, so a stale or foreign handle is refused.
class SimTransport final : public transport::Transport {
 public:
  explicit SimTransport(ChannelFactory factory) : m_factory(std::move(factory)) {}

  HRESULT Enumerate(std::vector<transport::DeviceEntry>* pDevices) override {
  MR_TRACE("SimTransport::Enumerate");
    std::unique_ptr<SimChannel> channel;
    WireResponse response{};
    HRESULT hr = m_factory(&channel);
    if (SUCCEEDED(hr)) {
      hr = channel->Call({WireOp::Enumerate, {}}, &response, kEnumerateTimeoutMs);
    }
    std::vector<WireDevice> devices;
    if (FAILED(hr) || response.result != 0 || !DecodeDeviceList(response.payload, &devices)) {
      return FoldWin32Error(0x205);
    }
    pDevices->clear();
    for (const WireDevice& d : devices) {
      pDevices->push_back({d.path, std::u16string(d.parentInstanceId.begin(), d.parentInstanceId.end())});
    }
    return S_OK;
  }

  HRESULT Open(const char* pszPath, HANDLE* phDevice) override {
  MR_TRACE("SimTransport::Open");
    std::unique_ptr<SimChannel> channel;
    HRESULT hr = m_factory(&channel);
    if (FAILED(hr)) {
      return hr;
    }
    WireResponse response{};
    const size_t n = std::strlen(pszPath);
    hr = channel->Call({WireOp::Open, Bytes(pszPath, pszPath + n)}, &response, kEnumerateTimeoutMs);
    if (FAILED(hr)) {
      return hr;
    }
    hr = ResultOf(response);
    if (FAILED(hr)) {
      return hr;
    }
    std::lock_guard<std::mutex> lock(m_lock);
    const std::uintptr_t id = ++m_lastId;
    m_open.emplace(id, std::shared_ptr<SimChannel>(std::move(channel)));
    *phDevice = reinterpret_cast<HANDLE>(id);
    return S_OK;
  }

  HRESULT Close(HANDLE hDevice) override {
  MR_TRACE("SimTransport::Close");
    std::lock_guard<std::mutex> lock(m_lock);
    return m_open.erase(reinterpret_cast<std::uintptr_t>(hDevice)) == 1 ? S_OK
                                                                       : FoldWin32Error(ERROR_INVALID_HANDLE);
  }

  HRESULT SendFrame(HANDLE hDevice, const BYTE* pFrame, DWORD nFrameLen, DWORD nTimeoutSec) override {
  MR_TRACE("SimTransport::SendFrame");
    WireRequest out{WireOp::DataOut, Bytes(kCdbLen + nFrameLen, 0)};
    const merro::WipeOnExit wipeFrame(out.payload);  // may hold a PIN digest or a key
    std::copy(transport::kTokenCdb, transport::kTokenCdb + kCdbLen, out.payload.begin());
    std::copy(pFrame, pFrame + nFrameLen, out.payload.begin() + kCdbLen);
    WireResponse response{};
    return CallOn(hDevice, out, &response, nTimeoutSec);
  }

  HRESULT ReceiveReply(HANDLE hDevice, BYTE (&reply)[transport::kReplyTransferLen],
                       DWORD nTimeoutSec) override {
  MR_TRACE("SimTransport::ReceiveReply");
    ByteWriter in;
    in.Raw(transport::kTokenCdb, kCdbLen);
    in.U32(transport::kReplyTransferLen);
    WireResponse response{};
    const merro::WipeOnExit wipeReply(response.payload);
    const HRESULT hr = CallOn(hDevice, {WireOp::DataIn, std::move(in.Out())}, &response, nTimeoutSec);
    if (FAILED(hr)) {
      return hr;
    }
    // Whatever the transfer carried, zero-filled to its length (an empty
    // transfer is zero bytes received).
    std::memset(reply, 0, sizeof reply);
    std::copy_n(response.payload.begin(), std::min<size_t>(response.payload.size(), sizeof reply), reply);
    return S_OK;
  }

 private:
  HRESULT CallOn(HANDLE hDevice, const WireRequest& request, WireResponse* pResponse,
                 DWORD nTimeoutSec) {
    const std::shared_ptr<SimChannel> channel = Find(hDevice);
    if (!channel) {
      return FoldWin32Error(ERROR_INVALID_HANDLE);
    }
    const DWORD timeoutMs = (nTimeoutSec == 0 ? 1 : nTimeoutSec) * 1000;
    const HRESULT hr = channel->Call(request, pResponse, timeoutMs);
    if (FAILED(hr)) {
      return hr;
    }
    return ResultOf(*pResponse);
  }

  // Calls on one handle are serialised by the device mutex of its token;
  // the table itself is guarded here.
  std::shared_ptr<SimChannel> Find(HANDLE hDevice) {
    std::lock_guard<std::mutex> lock(m_lock);
    const auto it = m_open.find(reinterpret_cast<std::uintptr_t>(hDevice));
    return it == m_open.end() ? nullptr : it->second;
  }

  ChannelFactory m_factory;
  std::mutex m_lock;
  std::uintptr_t m_lastId = 0;  // guarded by m_lock
  std::map<std::uintptr_t, std::shared_ptr<SimChannel>> m_open;  // guarded by m_lock
};

}  // namespace

std::shared_ptr<transport::Transport> MakeSimTransport(ChannelFactory factory) {
  return std::make_shared<SimTransport>(std::move(factory));
}

std::shared_ptr<transport::Transport> MakeTcpSimTransport(const std::string& hostPort) {
  return MakeSimTransport(TcpChannelFactory(hostPort));
}

HRESULT SimControl(const ChannelFactory& factory, const std::string& command, std::string* pAnswer) {
  MR_TRACE("SimControl");
  std::unique_ptr<SimChannel> channel;
  HRESULT hr = factory(&channel);
  WireResponse response{};
  if (SUCCEEDED(hr)) {
    hr = channel->Call({WireOp::Control, Bytes(command.begin(), command.end())}, &response,
                       kEnumerateTimeoutMs);
  }
  if (FAILED(hr)) {
    return hr;
  }
  if (pAnswer != nullptr) {
    pAnswer->assign(response.payload.begin(), response.payload.end());
  }
  return ResultOf(response);
}

HRESULT SimCommandLog(const ChannelFactory& factory, size_t token, std::vector<std::uint8_t>* pIns,
                      bool clear) {
  MR_TRACE("SimCommandLog");
  const std::string log = "log " + std::to_string(token);
  std::string answer;
  HRESULT hr = SimControl(factory, log, &answer);
  if (FAILED(hr)) {
    return hr;
  }
  // Two hexadecimal digits per command, one blank between them.
  std::vector<std::uint8_t> ins;
  for (size_t at = 0; at < answer.size(); at += 3) {
    const auto digit = [&](size_t i) {
      return i < answer.size() ? HexDigitValue(static_cast<unsigned char>(answer[i])) : -1;
    };
    const int hi = digit(at);
    const int lo = digit(at + 1);
    if (hi < 0 || lo < 0 || (at + 2 < answer.size() && answer[at + 2] != ' ')) {
      return FoldWin32Error(kErrorBadReply);
    }
    ins.push_back(static_cast<std::uint8_t>(hi << 4 | lo));
  }
  if (clear) {
    hr = SimControl(factory, log + " clear", nullptr);
  }
  if (SUCCEEDED(hr)) {
    pIns->swap(ins);
  }
  return hr;
}

}  // namespace merro::sim
