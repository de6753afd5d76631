// The simulator's wire protocol: the messages between a client (the
// simulator transport of tokenapi, natively or from the Windows binaries)
// and the merro-tokensim daemon, or the in-process simulator.
//
// Request:  'M' 'S' op 0, payload length (u32 LE), payload.
// Response: 'M' 'R' op 0, result (u32 LE, a Win32 error value, 0 = done),
//           payload length (u32 LE), payload.
//
// ops and payloads (request -> response):
//   Enumerate: -                          -> count u16, per token: path and
//                                            parent instance ID (u16 length + bytes each)
//   Open:      device path                -> -            (binds the session to that token)
//   DataOut:   CDB (10) + transfer data   -> -            (the token runs the command)
//   DataIn:    CDB (10) + length (u32)    -> the data-in transfer (length bytes)
//   Control:   a control command (text)   -> its answer (text)
// See tokensim/README.md for the control commands.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tokenapi/transport/sim/byte_io.h"

namespace merro::sim {

enum class WireOp : std::uint8_t { Enumerate = 1, Open = 2, DataOut = 3, DataIn = 4, Control = 5 };

constexpr size_t kRequestHeaderLen = 8;
constexpr size_t kResponseHeaderLen = 12;
constexpr std::uint32_t kWireMaxPayload = 64 * 1024;
constexpr size_t kCdbLen = 10;

struct WireRequest {
  WireOp op;
  Bytes payload;
};

struct WireResponse {
  WireOp op;
  std::uint32_t result;  // 0, or a Win32 error value
  Bytes payload;
};

Bytes EncodeRequest(const WireRequest& request);
Bytes EncodeResponse(const WireResponse& response);

// Header checks. On success *pPayloadLen is the length of the payload that
// follows (at most kWireMaxPayload). False for a bad magic, an unknown op or
// an over-long payload.
bool ParseRequestHeader(const std::uint8_t* p, size_t n, WireOp* pOp, std::uint32_t* pPayloadLen);
bool ParseResponseHeader(const std::uint8_t* p, size_t n, WireOp* pOp, std::uint32_t* pResult,
                         std::uint32_t* pPayloadLen);

// A whole request in one buffer (header and payload); false when malformed.
bool DecodeRequest(const std::uint8_t* p, size_t n, WireRequest* pRequest);

struct WireDevice {
  std::string path;
  std::string parentInstanceId;  // ASCII
};
Bytes EncodeDeviceList(const std::vector<WireDevice>& devices);
bool DecodeDeviceList(const Bytes& payload, std::vector<WireDevice>* pDevices);

}  // namespace merro::sim
