// SELECT, CREATE, READ, WRITE, ERASE and DELETE of files.
#include "tokensim/core/dispatcher.h"
#include "tokensim/core/token.h"
#include "tokensim/handlers/handler_checks.h"

namespace merro::tokensim {
namespace {

constexpr std::uint8_t kSelectById = 0x20;

// P1 0x20, two data bytes: the file id, low byte first.
bool ExpectFileId(const Command& cmd, Reply& reply) {
  if (!ExpectDataLen(cmd, 2, reply)) {
    return false;
  }
  if (cmd.p1 != kSelectById) {
    reply.Fail(sw::kIncorrectP1P2);
    return false;
  }
  return true;
}

// The selected file and a range [offset, offset + n) inside it.
TokenFile* SelectedRange(Token& token, size_t offset, size_t n, Reply& reply) {
  TokenFile* file = token.Files().Selected();
  if (file == nullptr) {
    reply.Fail(sw::kNoCurrentFile);
    return nullptr;
  }
  if (offset + n > file->content.size()) {
    reply.Fail(sw::kOffsetBeyondFile);
    return nullptr;
  }
  return file;
}

void SelectFile(Token& token, const Command& cmd, Reply& reply) {
  if (!ExpectFileId(cmd, reply)) {
    return;
  }
  if (cmd.le != 0 && cmd.le < kFileDescriptionLen) {
    reply.Fail(sw::kWrongLength);
    return;
  }
  reply.sw = token.Files().Select(cmd.DataWordLE(0));
  if (reply.Ok()) {
    const FileDescription& d = token.Files().Selected()->description;
    reply.data.assign(d.begin(), d.end());
  }
}

void CreateFile(Token& token, const Command& cmd, Reply& reply) {
  if (!ExpectDataLen(cmd, kFileDescriptionLen, reply)) {
    return;
  }
  FileDescription d;
  std::copy(cmd.data.begin(), cmd.data.end(), d.begin());
  reply.sw = token.Files().Create(d);
}

void WriteBinary(Token& token, const Command& cmd, Reply& reply) {
  if (cmd.data.empty()) {
    reply.Fail(sw::kWrongLength);
    return;
  }
  TokenFile* file = SelectedRange(token, cmd.P1P2(), cmd.data.size(), reply);
  if (file != nullptr) {
    std::copy(cmd.data.begin(), cmd.data.end(), file->content.begin() + cmd.P1P2());
  }
}

void ReadBinary(Token& token, const Command& cmd, Reply& reply) {
  if (!ExpectDataLen(cmd, 0, reply) || !ExpectLe(cmd, kMaxReplyData, reply)) {
    return;
  }
  TokenFile* file = SelectedRange(token, cmd.P1P2(), cmd.le, reply);
  if (file != nullptr) {
    const auto from = file->content.begin() + cmd.P1P2();
    reply.data.assign(from, from + cmd.le);
  }
}

void EraseFile(Token& token, const Command& cmd, Reply& reply) {
  if (ExpectFileId(cmd, reply)) {
    reply.sw = token.Files().Erase(cmd.DataWordLE(0));
  }
}

void DeleteFile(Token& token, const Command& cmd, Reply& reply) {
  // P1 of DELETE is passed through from the caller and not interpreted.
  if (ExpectDataLen(cmd, 2, reply)) {
    reply.sw = token.Files().Delete(cmd.DataWordLE(0));
  }
}

}  // namespace

void RegisterFileSystemFamily(Dispatcher& d) {
  d.Add(0xA4, &SelectFile);
  d.Add(0xE0, &CreateFile, StoredState::Changes);
  d.Add(0x33, &WriteBinary, StoredState::Changes);
  d.Add(0x36, &ReadBinary);
  d.Add(0x64, &EraseFile, StoredState::Changes);
  d.Add(0x65, &DeleteFile, StoredState::Changes);
}

}  // namespace merro::tokensim
