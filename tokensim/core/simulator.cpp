#include "tokensim/core/simulator.h"

#include <openssl/rand.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "tokenapi/transport/usb_ids.h"
#include "tokensim/core/dispatcher.h"
#include "tokensim/core/frame_parser.h"

namespace merro::tokensim {

using merro::sim::ByteReader;
using merro::sim::Bytes;
using merro::sim::WireOp;
using merro::sim::WireRequest;
using merro::sim::WireResponse;

namespace {

// Win32 error values the USB side of the token reports.
constexpr std::uint32_t kErrorInvalidFunction = 1;    // not the token's command block
constexpr std::uint32_t kErrorFileNotFound = 2;       // no such device path
constexpr std::uint32_t kErrorInvalidHandle = 6;      // session not opened
constexpr std::uint32_t kErrorInvalidParameter = 87;  // malformed request
constexpr std::uint32_t kErrorSemTimeout = 121;       // the token gave no answer
constexpr std::uint32_t kErrorDeviceNotConnected = 1167;

constexpr size_t kReplyTransferLen = 256;
constexpr size_t kMaxTransferLen = 1024;
// The command log of a token keeps the most recent commands.
constexpr size_t kCommandLogMax = 4096;

WireResponse Response(WireOp op, std::uint32_t result, Bytes payload = {}) {
  return WireResponse{op, result, std::move(payload)};
}

Bytes ReplyTransfer(const Reply& reply) {
  Bytes out(kReplyTransferLen, 0);
  out[0] = static_cast<std::uint8_t>(reply.sw >> 8);
  out[1] = static_cast<std::uint8_t>(reply.sw);
  out[2] = static_cast<std::uint8_t>(reply.data.size());
  std::copy(reply.data.begin(), reply.data.end(), out.begin() + 3);
  return out;
}

std::unique_ptr<Token> NewToken() {
  std::array<std::uint8_t, kChipSnLen> chipSn{};
  if (RAND_bytes(chipSn.data(), static_cast<int>(chipSn.size())) != 1) {
    return nullptr;
  }
  return std::make_unique<Token>(chipSn);
}

}  // namespace

std::unique_ptr<Simulator> Simulator::Create(const Options& options, std::string* pError) {
  std::vector<std::unique_ptr<Token>> tokens;
  if (!options.imagePath.empty() && std::filesystem::exists(options.imagePath) &&
      !LoadImage(options.imagePath, &tokens, pError)) {
    return nullptr;
  }
  while (tokens.size() < options.tokenCount) {
    auto token = NewToken();
    if (!token) {
      *pError = "no random bytes for a chip serial number";
      return nullptr;
    }
    tokens.push_back(std::move(token));
  }
  auto simulator = std::make_unique<Simulator>(std::move(tokens), options.imagePath);
  if (!options.imagePath.empty() && !simulator->SaveImage(true, pError)) {
    return nullptr;
  }
  return simulator;
}

Simulator::Simulator(std::vector<std::unique_ptr<Token>> tokens, std::string imagePath,
                     const Dispatcher* dispatcher)
    : m_imagePath(std::move(imagePath)),
      m_dispatcher(dispatcher != nullptr ? *dispatcher : Dispatcher::Standard()) {
  for (auto& token : tokens) {
    token->PowerUp();
    Slot slot;
    slot.token = std::move(token);
    m_tokens.push_back(std::move(slot));
  }
}

std::string Simulator::DevicePath(size_t i) const {
  return "\\\\?\\usbstor#cdrom&ven_merro&prod_token&rev_1.00#7&" +
         m_tokens.at(i).token->SerialText() + "&0#" + merro::transport::kCdromInterfaceGuid;
}

std::string Simulator::ParentInstanceId(size_t i) const {
  char ids[32];
  std::snprintf(ids, sizeof ids, "USB\\VID_%04X&PID_%04X\\", merro::transport::kTokenUsbVendorId,
                merro::transport::kTokenUsbProductId);
  return ids + m_tokens.at(i).token->SerialText();
}

Bytes Simulator::HandleMessage(Session& session, const std::uint8_t* p, size_t n) {
  WireRequest request;
  if (!merro::sim::DecodeRequest(p, n, &request)) {
    WireOp op;
    std::uint32_t len = 0;
    if (!merro::sim::ParseRequestHeader(p, n, &op, &len)) {
      return {};
    }
    return merro::sim::EncodeResponse(Response(op, kErrorInvalidParameter));
  }
  return merro::sim::EncodeResponse(Handle(session, request));
}

WireResponse Simulator::Handle(Session& session, const WireRequest& request) {
  if (request.op == WireOp::Control) {
    std::string answer;
    const bool ok = Control(std::string(request.payload.begin(), request.payload.end()), &answer);
    return Response(WireOp::Control, ok ? 0 : kErrorInvalidParameter, Bytes(answer.begin(), answer.end()));
  }
  Lock lock(m_lock);
  switch (request.op) {
    case WireOp::Enumerate:
      return Enumerate();
    case WireOp::Open:
      return Open(session, request.payload);
    case WireOp::DataOut:
      return DataOut(session, request.payload, lock);
    case WireOp::DataIn:
      return DataIn(session, request.payload, lock);
    default:
      return Response(request.op, kErrorInvalidParameter);
  }
}

WireResponse Simulator::Enumerate() {
  std::vector<merro::sim::WireDevice> devices;
  for (size_t i = 0; i < m_tokens.size(); ++i) {
    if (m_tokens[i].present) {
      devices.push_back({DevicePath(i), ParentInstanceId(i)});
    }
  }
  return Response(WireOp::Enumerate, 0, merro::sim::EncodeDeviceList(devices));
}

WireResponse Simulator::Open(Session& session, const Bytes& payload) {
  const std::string path(payload.begin(), payload.end());
  for (size_t i = 0; i < m_tokens.size(); ++i) {
    if (m_tokens[i].present && DevicePath(i) == path) {
      session.token = static_cast<int>(i);
      session.generation = m_tokens[i].generation;
      return Response(WireOp::Open, 0);
    }
  }
  return Response(WireOp::Open, kErrorFileNotFound);
}

Simulator::Slot* Simulator::Bound(const Session& session, std::uint32_t* pError) {
  if (session.token < 0 || static_cast<size_t>(session.token) >= m_tokens.size()) {
    *pError = kErrorInvalidHandle;
    return nullptr;
  }
  Slot& slot = m_tokens[static_cast<size_t>(session.token)];
  if (!slot.present || slot.generation != session.generation) {
    *pError = kErrorDeviceNotConnected;
    return nullptr;
  }
  return &slot;
}

Simulator::Slot* Simulator::BoundAndIdle(const Session& session, std::uint32_t* pError, Lock& lock) {
  for (;;) {
    Slot* slot = Bound(session, pError);
    if (slot == nullptr || !slot->busy) {
      return slot;
    }
    m_changed.wait(lock);
  }
}

WireResponse Simulator::DataOut(Session& session, const Bytes& payload, Lock& lock) {
  std::uint32_t error = 0;
  Slot* slot = BoundAndIdle(session, &error, lock);
  if (slot == nullptr) {
    return Response(WireOp::DataOut, error);
  }
  if (payload.size() < merro::sim::kCdbLen || payload.size() > merro::sim::kCdbLen + kMaxTransferLen) {
    return Response(WireOp::DataOut, kErrorInvalidParameter);
  }
  if (!IsTokenCdb(payload.data(), merro::sim::kCdbLen)) {
    return Response(WireOp::DataOut, kErrorInvalidFunction);
  }
  const std::uint8_t* frame = payload.data() + merro::sim::kCdbLen;
  const size_t frameLen = payload.size() - merro::sim::kCdbLen;
  if (frameLen >= 2) {
    if (slot->commandLog.size() == kCommandLogMax) {
      slot->commandLog.erase(slot->commandLog.begin());
    }
    slot->commandLog.push_back(frame[1]);
  }
  Token& token = *slot->token;
  Reply reply;
  Command cmd;
  const std::uint16_t parsed = ParseCommandFrame(frame, frameLen, &cmd);
  const std::optional<Fault> fault = token.Faults().Take(frameLen >= 2 ? frame[1] : 0);
  slot->dropReply = false;
  if (fault && fault->kind == Fault::Kind::WrongStatusWord) {
    reply.Fail(fault->statusWord);
  } else if (parsed != sw::kOk) {
    reply.Fail(parsed);
  } else {
    {
      // While the command waits for the user, the lock is given up and the
      // token marked busy.
      struct BusyScope {
        Slot& slot;
        std::condition_variable& changed;
        ~BusyScope() {
          slot.token->Screen().SetWaiter(nullptr);
          slot.busy = false;
          changed.notify_all();
        }
      } busy{*slot, m_changed};
      slot->busy = true;
      token.Screen().SetWaiter(
          [&](Display::Clock::time_point until) { m_changed.wait_until(lock, until); });
      reply = m_dispatcher.Execute(token, std::move(cmd));
    }
    if (slot->generation != session.generation) {
      return Response(WireOp::DataOut, kErrorDeviceNotConnected);  // pulled out meanwhile
    }
    if (fault && fault->kind == Fault::Kind::ShortReply && reply.data.size() > fault->keep) {
      reply.data.resize(fault->keep);
    }
    slot->dropReply = fault && fault->kind == Fault::Kind::DroppedReply;
  }
  slot->reply = ReplyTransfer(reply);
  slot->hasReply = true;
  return Response(WireOp::DataOut, 0);
}

WireResponse Simulator::DataIn(Session& session, const Bytes& payload, Lock& lock) {
  std::uint32_t error = 0;
  Slot* slot = BoundAndIdle(session, &error, lock);
  if (slot == nullptr) {
    return Response(WireOp::DataIn, error);
  }
  ByteReader in(payload);
  Bytes cdb;
  std::uint32_t length = 0;
  if (!in.Raw(merro::sim::kCdbLen, &cdb) || !in.U32(&length) || !in.AtEnd() || length == 0 ||
      length > kMaxTransferLen) {
    return Response(WireOp::DataIn, kErrorInvalidParameter);
  }
  if (!IsTokenCdb(cdb.data(), cdb.size())) {
    return Response(WireOp::DataIn, kErrorInvalidFunction);
  }
  if (!slot->hasReply) {
    Reply none;
    none.Fail(sw::kConditionsNotSatisfied);
    slot->reply = ReplyTransfer(none);
  }
  slot->hasReply = false;
  if (slot->dropReply) {
    slot->dropReply = false;
    return Response(WireOp::DataIn, kErrorSemTimeout);
  }
  Bytes transfer(length, 0);
  std::copy_n(slot->reply.begin(), std::min<size_t>(length, slot->reply.size()), transfer.begin());
  return Response(WireOp::DataIn, 0, std::move(transfer));
}

bool Simulator::SaveImage(bool force, std::string* pError) {
  std::lock_guard<std::mutex> lock(m_lock);
  return SaveLocked(force, pError);
}

bool Simulator::SaveLocked(bool force, std::string* pError) {
  bool dirty = force;
  for (Slot& slot : m_tokens) {
    dirty = slot.token->TakeDirty() || dirty;
  }
  if (!dirty || m_imagePath.empty()) {
    return true;
  }
  std::vector<const Token*> tokens;
  for (const Slot& slot : m_tokens) {
    tokens.push_back(slot.token.get());
  }
  if (!WriteImage(m_imagePath, tokens, pError)) {
    m_tokens.front().token->MarkDirty();  // try again next time
    return false;
  }
  return true;
}

}  // namespace merro::tokensim
