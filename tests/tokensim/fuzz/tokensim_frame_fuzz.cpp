// Fuzz target over what reaches the simulated token: the command frame of a
// data-out transfer (parser, dispatcher and every handler) and whole wire
// messages of the daemon's protocol (header, ops, control commands).
//
// Input: byte 0 chooses the path (even: the rest is one command frame sent
// to an opened token, followed by its data-in; odd: the rest is one wire
// message as a client would send it). The simulator must answer everything
// with a status word or an error and keep its replies within one transfer.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tokensim/core/simulator.h"

namespace {

using merro::sim::Bytes;
using merro::sim::WireOp;
using merro::tokensim::Session;
using merro::tokensim::Simulator;

void Require(bool condition) {
  if (!condition) {
    __builtin_trap();
  }
}

Simulator& TheSimulator() {
  static std::unique_ptr<Simulator> sim = [] {
    std::string error;
    auto s = Simulator::Create({1, ""}, &error);
    Require(s != nullptr);
    return s;
  }();
  return *sim;
}

merro::sim::WireResponse Call(Session& session, WireOp op, Bytes payload) {
  return TheSimulator().Handle(session, {op, std::move(payload)});
}

void SendFrame(const std::uint8_t* data, size_t size) {
  Session session;
  const std::string path = TheSimulator().DevicePath(0);
  Require(Call(session, WireOp::Open, Bytes(path.begin(), path.end())).result == 0);
  Bytes out(10, 0);
  out[0] = 0xFF;
  out.insert(out.end(), data, data + size);
  const auto sent = Call(session, WireOp::DataOut, out);
  Bytes in(10, 0);
  in[0] = 0xFF;
  in.insert(in.end(), {0x00, 0x01, 0x00, 0x00});  // 256 bytes
  const auto reply = Call(session, WireOp::DataIn, in);
  if (size <= 1024) {
    Require(sent.result == 0);
    Require(reply.result == 0 && reply.payload.size() == 256);
    Require(reply.payload[2] <= 253);
    const bool ok = reply.payload[0] == 0x90 && reply.payload[1] == 0x00;
    Require(ok || reply.payload[2] == 0);
  }
}

void SendMessage(const std::uint8_t* data, size_t size) {
  Session session;
  const Bytes response = TheSimulator().HandleMessage(session, data, size);
  if (!response.empty()) {
    WireOp op;
    std::uint32_t result = 0, len = 0;
    Require(merro::sim::ParseResponseHeader(response.data(), response.size(), &op, &result, &len));
    Require(response.size() == merro::sim::kResponseHeaderLen + len);
  }
  // Undo what a control command may have done to the token.
  std::string answer;
  TheSimulator().Control("insert 0", &answer);
  TheSimulator().Control("fault 0 clear", &answer);
  TheSimulator().Control("button 0 clear", &answer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) {
    return 0;
  }
  if ((data[0] & 1) == 0) {
    SendFrame(data + 1, size - 1);
  } else {
    SendMessage(data + 1, size - 1);
  }
  return 0;
}
