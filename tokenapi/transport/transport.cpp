#include "tokenapi/transport/transport.h"

#include <cstdlib>
#include <mutex>

#include "foundation/result.h"
#include "foundation/trace/trace.h"

#ifdef _WIN32
#include "tokenapi/transport/win/scsi_transport.h"
#endif
#ifdef MERRO_WITH_SIMULATOR
#include "tokenapi/transport/sim/sim_transport.h"
#endif

namespace merro::transport {
namespace {

#ifndef _WIN32
// Natively there is no real token to reach: nothing is listed.
class NoDeviceTransport final : public Transport {
 public:
  HRESULT Enumerate(std::vector<DeviceEntry>* pDevices) override {
    pDevices->clear();
    return S_OK;
  }
  HRESULT Open(const char*, HANDLE*) override { return FoldWin32Error(ERROR_FILE_NOT_FOUND); }
  HRESULT Close(HANDLE) override { return FoldWin32Error(ERROR_INVALID_HANDLE); }
  HRESULT SendFrame(HANDLE, const BYTE*, DWORD, DWORD) override {
    return FoldWin32Error(ERROR_INVALID_HANDLE);
  }
  HRESULT ReceiveReply(HANDLE, BYTE (&)[kReplyTransferLen], DWORD) override {
    return FoldWin32Error(ERROR_INVALID_HANDLE);
  }
};
#endif

std::shared_ptr<Transport> MakeConfiguredTransport() {
#ifdef MERRO_WITH_SIMULATOR
  const char* sim = std::getenv("MERRO_TOKEN_SIM");
  if (sim != nullptr && *sim != '\0') {
    return merro::sim::MakeTcpSimTransport(sim);
  }
#endif
#ifdef _WIN32
  return MakeScsiTransport();
#else
  return std::make_shared<NoDeviceTransport>();
#endif
}

std::mutex g_lock;
std::shared_ptr<Transport> g_override;    // guarded by g_lock
std::shared_ptr<Transport> g_configured;  // guarded by g_lock

}  // namespace

Transport& ActiveTransport() {
  MR_TRACE("ActiveTransport");
  std::lock_guard<std::mutex> lock(g_lock);
  if (g_override) {
    return *g_override;
  }
  if (!g_configured) {
    g_configured = MakeConfiguredTransport();
  }
  return *g_configured;
}

void SetTransportOverride(std::shared_ptr<Transport> transport) {
  MR_TRACE("SetTransportOverride");
  std::lock_guard<std::mutex> lock(g_lock);
  g_override = std::move(transport);
}

}  // namespace merro::transport
