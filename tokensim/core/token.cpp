#include "tokensim/core/token.h"

#include <algorithm>
#include <cstring>

namespace merro::tokensim {
namespace {

constexpr size_t kMaxExtensions = 64;
constexpr size_t kMaxExtensionLen = 1024 * 1024;
constexpr size_t kMaxNameLen = 64;

}  // namespace

Token::Token(const std::array<std::uint8_t, kChipSnLen>& chipSn)
    : m_chipSn(chipSn), m_label(FactoryLabel()) {}

std::string Token::SerialText() const {
  static const char kHex[] = "0123456789abcdef";
  std::string text;
  for (const std::uint8_t b : m_chipSn) {
    text += kHex[b >> 4];
    text += kHex[b & 0x0F];
  }
  return text;
}

Bytes Token::FactoryLabel() const {
  std::string label = "MT" + SerialText();
  std::transform(label.begin(), label.end(), label.begin(), ::toupper);
  return Bytes(label.begin(), label.end());
}

void Token::WriteFlash(size_t offset, const std::uint8_t* p, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const size_t at = offset + i;
    auto it = m_flash.find(static_cast<std::uint32_t>(at / kFlashPageLen));
    if (it == m_flash.end()) {
      std::array<std::uint8_t, kFlashPageLen> blank;
      blank.fill(0xFF);
      it = m_flash.emplace(static_cast<std::uint32_t>(at / kFlashPageLen), blank).first;
    }
    it->second[at % kFlashPageLen] = p[i];
  }
}

void Token::ReadFlash(size_t offset, size_t n, Bytes* out) const {
  out->assign(n, 0xFF);
  for (size_t i = 0; i < n; ++i) {
    const size_t at = offset + i;
    const auto it = m_flash.find(static_cast<std::uint32_t>(at / kFlashPageLen));
    if (it != m_flash.end()) {
      (*out)[i] = it->second[at % kFlashPageLen];
    }
  }
}

void Token::ResetSecurityState() {
  m_challenge.clear();
  for (auto& entry : m_extensions) {
    entry.second->ResetSecurityState();
  }
}

void Token::PowerUp() {
  ResetSecurityState();
  m_files.Deselect();
  m_display.Reset();
}

void Token::EraseFileSystem() {
  m_files.Clear();
  m_pendingExtensions.clear();
  for (auto& entry : m_extensions) {
    entry.second->Erase();
  }
  ResetSecurityState();
}

void Token::EraseAll() {
  EraseFileSystem();
  m_label = FactoryLabel();
}

void Token::LoadPending(const std::string& name, TokenExtension& ext) {
  const auto it = m_pendingExtensions.find(name);
  if (it == m_pendingExtensions.end()) {
    return;
  }
  merro::sim::ByteReader in(it->second);
  if (!ext.Load(in)) {
    ext.Erase();  // unreadable saved state: start from a blank one
  }
  m_pendingExtensions.erase(it);
}

void Token::Save(merro::sim::ByteWriter& out) const {
  out.Raw(m_chipSn.data(), m_chipSn.size());
  out.Blob(m_label);
  m_files.Save(out);
  out.U32(static_cast<std::uint32_t>(m_flash.size()));
  for (const auto& page : m_flash) {
    out.U32(page.first);
    out.Raw(page.second.data(), page.second.size());
  }
  std::map<std::string, Bytes> extensions = m_pendingExtensions;
  for (const auto& entry : m_extensions) {
    merro::sim::ByteWriter ext;
    entry.second->Save(ext);
    extensions[entry.first] = std::move(ext.Out());
  }
  out.U32(static_cast<std::uint32_t>(extensions.size()));
  for (const auto& entry : extensions) {
    out.Text(entry.first);
    out.Blob(entry.second);
  }
}

std::unique_ptr<Token> Token::Load(merro::sim::ByteReader& in) {
  std::array<std::uint8_t, kChipSnLen> chipSn;
  if (!in.Raw(chipSn.size(), chipSn.data())) {
    return nullptr;
  }
  auto token = std::make_unique<Token>(chipSn);
  std::uint32_t pages = 0;
  if (!in.Blob(&token->m_label, kLabelMax) || !token->m_files.Load(in) || !in.U32(&pages) ||
      pages > kFlashSize / kFlashPageLen) {
    return nullptr;
  }
  for (std::uint32_t i = 0; i < pages; ++i) {
    std::uint32_t page = 0;
    std::array<std::uint8_t, kFlashPageLen> data;
    if (!in.U32(&page) || page >= kFlashSize / kFlashPageLen || !in.Raw(data.size(), data.data())) {
      return nullptr;
    }
    token->m_flash[page] = data;
  }
  std::uint32_t extensions = 0;
  if (!in.U32(&extensions) || extensions > kMaxExtensions) {
    return nullptr;
  }
  for (std::uint32_t i = 0; i < extensions; ++i) {
    std::string name;
    Bytes data;
    if (!in.Text(&name, kMaxNameLen) || !in.Blob(&data, kMaxExtensionLen)) {
      return nullptr;
    }
    token->m_pendingExtensions[name] = std::move(data);
  }
  return token;
}

}  // namespace merro::tokensim
