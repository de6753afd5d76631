// The token's file system: flat, files found by 16-bit identifier. New and
// erased files read 0xFF. One file is selected at a time.
#pragma once

#include <array>
#include <cstdint>
#include <map>

#include "tokenapi/transport/sim/byte_io.h"
#include "tokensim/core/command.h"

namespace merro::tokensim {

constexpr size_t kFileDescriptionLen = 16;
using FileDescription = std::array<std::uint8_t, kFileDescriptionLen>;

struct TokenFile {
  FileDescription description;  // as created: id and size low byte first, conditions
  Bytes content;                // its size is the file's size
};

class FileSystem {
 public:
  // Room for all files' content together.
  static constexpr size_t kCapacity = 256 * 1024;

  // Creates the file a 16-byte description names (id at bytes 0-1, size at
  // 2-3, low byte first) and selects it. 6A89 when the id exists, 6A80 for
  // size 0, 6A84 when it does not fit.
  std::uint16_t Create(const FileDescription& description);
  std::uint16_t Select(std::uint16_t id);
  // Refills the content with 0xFF; the file stays.
  std::uint16_t Erase(std::uint16_t id);
  std::uint16_t Delete(std::uint16_t id);
  // Removes every file.
  void Clear();
  void Deselect() { m_hasSelection = false; }

  TokenFile* Find(std::uint16_t id);
  TokenFile* Selected();
  size_t FreeSpace() const;
  size_t Count() const { return m_files.size(); }

  void Save(merro::sim::ByteWriter& out) const;
  bool Load(merro::sim::ByteReader& in);

 private:
  std::map<std::uint16_t, TokenFile> m_files;
  std::uint16_t m_selected = 0;
  bool m_hasSelection = false;
};

}  // namespace merro::tokensim
