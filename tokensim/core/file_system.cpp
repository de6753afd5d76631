#include "tokensim/core/file_system.h"

namespace merro::tokensim {
namespace {

std::uint16_t IdOf(const FileDescription& d) { return static_cast<std::uint16_t>(d[0] | (d[1] << 8)); }
std::uint16_t SizeOf(const FileDescription& d) {
  return static_cast<std::uint16_t>(d[2] | (d[3] << 8));
}

}  // namespace

std::uint16_t FileSystem::Create(const FileDescription& description) {
  const std::uint16_t id = IdOf(description);
  const std::uint16_t size = SizeOf(description);
  if (m_files.count(id) != 0) {
    return sw::kFileExists;
  }
  if (size == 0) {
    return sw::kIncorrectData;
  }
  if (size > FreeSpace()) {
    return sw::kNotEnoughMemory;
  }
  m_files[id] = TokenFile{description, Bytes(size, 0xFF)};
  m_selected = id;
  m_hasSelection = true;
  return sw::kOk;
}

std::uint16_t FileSystem::Select(std::uint16_t id) {
  if (m_files.count(id) == 0) {
    return sw::kFileNotFound;
  }
  m_selected = id;
  m_hasSelection = true;
  return sw::kOk;
}

std::uint16_t FileSystem::Erase(std::uint16_t id) {
  TokenFile* file = Find(id);
  if (file == nullptr) {
    return sw::kFileNotFound;
  }
  file->content.assign(file->content.size(), 0xFF);
  return sw::kOk;
}

std::uint16_t FileSystem::Delete(std::uint16_t id) {
  if (m_files.erase(id) == 0) {
    return sw::kFileNotFound;
  }
  if (m_hasSelection && m_selected == id) {
    m_hasSelection = false;
  }
  return sw::kOk;
}

void FileSystem::Clear() {
  m_files.clear();
  m_hasSelection = false;
}

TokenFile* FileSystem::Find(std::uint16_t id) {
  const auto it = m_files.find(id);
  return it == m_files.end() ? nullptr : &it->second;
}

TokenFile* FileSystem::Selected() { return m_hasSelection ? Find(m_selected) : nullptr; }

size_t FileSystem::FreeSpace() const {
  size_t used = 0;
  for (const auto& entry : m_files) {
    used += entry.second.content.size();
  }
  return used >= kCapacity ? 0 : kCapacity - used;
}

void FileSystem::Save(merro::sim::ByteWriter& out) const {
  out.U32(static_cast<std::uint32_t>(m_files.size()));
  for (const auto& entry : m_files) {
    out.Raw(entry.second.description.data(), kFileDescriptionLen);
    out.Blob(entry.second.content);
  }
}

bool FileSystem::Load(merro::sim::ByteReader& in) {
  std::uint32_t count = 0;
  if (!in.U32(&count) || count > kCapacity) {
    return false;
  }
  std::map<std::uint16_t, TokenFile> files;
  size_t used = 0;
  for (std::uint32_t i = 0; i < count; ++i) {
    TokenFile file;
    if (!in.Raw(kFileDescriptionLen, file.description.data()) || !in.Blob(&file.content, 0xFFFF)) {
      return false;
    }
    used += file.content.size();
    const std::uint16_t id = IdOf(file.description);
    if (file.content.size() != SizeOf(file.description) || file.content.empty() ||
        used > kCapacity || files.count(id) != 0) {
      return false;
    }
    files[id] = std::move(file);
  }
  m_files = std::move(files);
  m_hasSelection = false;
  return true;
}

}  // namespace merro::tokensim
