#include "tokenapi/transport/sim/sim_wire.h"

namespace merro::sim {
namespace {

bool KnownOp(std::uint8_t op) {
  return op >= static_cast<std::uint8_t>(WireOp::Enumerate) &&
         op <= static_cast<std::uint8_t>(WireOp::Control);
}

constexpr size_t kMaxDevices = 64;
constexpr size_t kMaxNameLen = 1024;

}  // namespace

Bytes EncodeRequest(const WireRequest& request) {
  ByteWriter w;
  w.U8('M');
  w.U8('S');
  w.U8(static_cast<std::uint8_t>(request.op));
  w.U8(0);
  w.U32(static_cast<std::uint32_t>(request.payload.size()));
  w.Raw(request.payload);
  return std::move(w.Out());
}

Bytes EncodeResponse(const WireResponse& response) {
  ByteWriter w;
  w.U8('M');
  w.U8('R');
  w.U8(static_cast<std::uint8_t>(response.op));
  w.U8(0);
  w.U32(response.result);
  w.U32(static_cast<std::uint32_t>(response.payload.size()));
  w.Raw(response.payload);
  return std::move(w.Out());
}

bool ParseRequestHeader(const std::uint8_t* p, size_t n, WireOp* pOp, std::uint32_t* pPayloadLen) {
  ByteReader r(p, n);
  std::uint8_t m = 0, s = 0, op = 0, pad = 0;
  std::uint32_t len = 0;
  if (!r.U8(&m) || !r.U8(&s) || !r.U8(&op) || !r.U8(&pad) || !r.U32(&len)) {
    return false;
  }
  if (m != 'M' || s != 'S' || pad != 0 || !KnownOp(op) || len > kWireMaxPayload) {
    return false;
  }
  *pOp = static_cast<WireOp>(op);
  *pPayloadLen = len;
  return true;
}

bool ParseResponseHeader(const std::uint8_t* p, size_t n, WireOp* pOp, std::uint32_t* pResult,
                         std::uint32_t* pPayloadLen) {
  ByteReader r(p, n);
  std::uint8_t m = 0, s = 0, op = 0, pad = 0;
  std::uint32_t result = 0, len = 0;
  if (!r.U8(&m) || !r.U8(&s) || !r.U8(&op) || !r.U8(&pad) || !r.U32(&result) || !r.U32(&len)) {
    return false;
  }
  if (m != 'M' || s != 'R' || pad != 0 || !KnownOp(op) || len > kWireMaxPayload) {
    return false;
  }
  *pOp = static_cast<WireOp>(op);
  *pResult = result;
  *pPayloadLen = len;
  return true;
}

bool DecodeRequest(const std::uint8_t* p, size_t n, WireRequest* pRequest) {
  std::uint32_t len = 0;
  if (!ParseRequestHeader(p, n, &pRequest->op, &len) || n - kRequestHeaderLen != len) {
    return false;
  }
  pRequest->payload.assign(p + kRequestHeaderLen, p + n);
  return true;
}

Bytes EncodeDeviceList(const std::vector<WireDevice>& devices) {
  ByteWriter w;
  w.U16(static_cast<std::uint16_t>(devices.size()));
  for (const WireDevice& d : devices) {
    w.U16(static_cast<std::uint16_t>(d.path.size()));
    w.Raw(reinterpret_cast<const std::uint8_t*>(d.path.data()), d.path.size());
    w.U16(static_cast<std::uint16_t>(d.parentInstanceId.size()));
    w.Raw(reinterpret_cast<const std::uint8_t*>(d.parentInstanceId.data()), d.parentInstanceId.size());
  }
  return std::move(w.Out());
}

bool DecodeDeviceList(const Bytes& payload, std::vector<WireDevice>* pDevices) {
  ByteReader r(payload);
  std::uint16_t count = 0;
  if (!r.U16(&count) || count > kMaxDevices) {
    return false;
  }
  pDevices->clear();
  for (std::uint16_t i = 0; i < count; ++i) {
    std::uint16_t len = 0;
    Bytes path, parent;
    if (!r.U16(&len) || len > kMaxNameLen || !r.Raw(len, &path) || !r.U16(&len) ||
        len > kMaxNameLen || !r.Raw(len, &parent)) {
      return false;
    }
    pDevices->push_back({std::string(path.begin(), path.end()), std::string(parent.begin(), parent.end())});
  }
  return r.AtEnd();
}

}  // namespace merro::sim
