// One simulated token: what it stores (files, flash, label, serial numbers,
// whatever the handler families keep in their extensions) and what it holds
// only while powered (security state, selection, display, faults).
//
// Handler families that need state of their own define a TokenExtension:
//
//   struct PinState : TokenExtension {
//     static constexpr const char* kName = "pin";   // key in the image file
//     void ResetSecurityState() override { verified = false; }
//     void Save(sim::ByteWriter& out) const override { ... }
//     bool Load(sim::ByteReader& in) override { ... }
//     void Erase() override { ... }                  // ERASE MF / ERASE COS
//     bool verified = false;
//   };
//   ... token.Ext<PinState>().verified ...
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "tokenapi/transport/sim/byte_io.h"
#include "tokensim/core/command.h"
#include "tokensim/core/display.h"
#include "tokensim/core/faults.h"
#include "tokensim/core/file_system.h"

namespace merro::tokensim {

class TokenExtension {
 public:
  virtual ~TokenExtension() = default;
  // GET DEVICE INFO with P1 = 1, and every power-up (insertion, start).
  virtual void ResetSecurityState() {}
  // The part that lives in the image file.
  virtual void Save(merro::sim::ByteWriter& out) const {}
  virtual bool Load(merro::sim::ByteReader& in) { return true; }
  // ERASE MF and ERASE COS: forget what the extension stores.
  virtual void Erase() {}
};

constexpr size_t kChipSnLen = 8;
constexpr size_t kFlashSize = 0x200000;
constexpr size_t kFlashPageLen = 256;
constexpr size_t kLabelMax = 128;
constexpr char kCosVersion[] = "V3.02";
constexpr char kHardwareVersion[] = "H1.00";

class Token {
 public:
  // A new token with this chip serial number: no files, erased flash, the
  // label "MT" and the serial number in hexadecimal.
  explicit Token(const std::array<std::uint8_t, kChipSnLen>& chipSn);
  Token(const Token&) = delete;
  Token& operator=(const Token&) = delete;

  const std::array<std::uint8_t, kChipSnLen>& ChipSn() const { return m_chipSn; }
  // The chip serial number in hexadecimal: the token's instance name.
  std::string SerialText() const;

  FileSystem& Files() { return m_files; }
  Bytes& Label() { return m_label; }
  Display& Screen() { return m_display; }
  FaultPlan& Faults() { return m_faults; }
  // The last GET CHALLENGE answer (empty when none since the last reset).
  Bytes& Challenge() { return m_challenge; }
  std::int64_t ClockSetAt() const { return m_clockSetAt; }
  void SetClock(std::int64_t unixSeconds) { m_clockSetAt = unixSeconds; }

  // Flash pages, read as 0xFF until written.
  void WriteFlash(size_t offset, const std::uint8_t* p, size_t n);
  void ReadFlash(size_t offset, size_t n, Bytes* out) const;
  void EraseFlash() { m_flash.clear(); }

  template <class T>
  T& Ext() {
    const std::string name = T::kName;
    auto it = m_extensions.find(name);
    if (it == m_extensions.end()) {
      auto ext = std::make_unique<T>();
      LoadPending(name, *ext);
      it = m_extensions.emplace(name, std::move(ext)).first;
    }
    return static_cast<T&>(*it->second);
  }

  void ResetSecurityState();
  // Power cycle: security state reset, no selection, display idle.
  void PowerUp();
  // ERASE MF: every file and every extension's stored state.
  void EraseFileSystem();
  // ERASE COS: as ERASE MF, and the label back to its factory value.
  void EraseAll();

  // Stored state changed since the last TakeDirty.
  void MarkDirty() { m_dirty = true; }
  bool TakeDirty() {
    const bool dirty = m_dirty;
    m_dirty = false;
    return dirty;
  }

  void Save(merro::sim::ByteWriter& out) const;
  // Replaces the stored state by what `in` holds; false when malformed.
  static std::unique_ptr<Token> Load(merro::sim::ByteReader& in);

 private:
  void LoadPending(const std::string& name, TokenExtension& ext);
  Bytes FactoryLabel() const;

  std::array<std::uint8_t, kChipSnLen> m_chipSn;
  FileSystem m_files;
  std::map<std::uint32_t, std::array<std::uint8_t, kFlashPageLen>> m_flash;  // by page
  Bytes m_label;
  Display m_display;
  FaultPlan m_faults;
  Bytes m_challenge;
  std::int64_t m_clockSetAt = 0;
  std::map<std::string, std::unique_ptr<TokenExtension>> m_extensions;
  // Saved extension state of families not used since loading.
  std::map<std::string, Bytes> m_pendingExtensions;
  bool m_dirty = false;
};

}  // namespace merro::tokensim
