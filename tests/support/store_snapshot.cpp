#include "tests/support/store_snapshot.h"

#include <wincrypt.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "tests/support/child_process.h"

namespace merro::testing {

namespace {

using merro::provider::StoreLocation;

constexpr char kChildFlag[] = "--store-snapshot";

std::string Hex(const void* p, size_t n) {
  static const char kDigits[] = "0123456789abcdef";
  std::string out;
  const auto* b = static_cast<const std::uint8_t*>(p);
  for (size_t i = 0; i < n; ++i) {
    out += kDigits[b[i] >> 4];
    out += kDigits[b[i] & 15];
  }
  return out.empty() ? "-" : out;
}

std::vector<std::uint8_t> Unhex(const std::string& s) {
  std::vector<std::uint8_t> out;
  if (s == "-") {
    return out;
  }
  for (size_t i = 0; i + 1 < s.size(); i += 2) {
    out.push_back(static_cast<std::uint8_t>(std::stoul(s.substr(i, 2), nullptr, 16)));
  }
  return out;
}

std::wstring UnhexWide(const std::string& s) {
  const std::vector<std::uint8_t> bytes = Unhex(s);
  std::wstring out(bytes.size() / sizeof(wchar_t), L'\0');
  if (!out.empty()) {
    std::memcpy(&out[0], bytes.data(), out.size() * sizeof(wchar_t));
  }
  return out;
}

// One line per certificate: the key-provider record's numbers, then the
// certificate, provider name and container name in hex.
bool WriteSnapshot(const StoreSnapshot& snapshot, const std::string& file) {
  std::ofstream out(file, std::ios::trunc);
  for (const StoreSnapshotEntry& e : snapshot) {
    const auto& i = e.info;
    out << e.hasKeyProvInfo << ' ' << i.dwProvType << ' ' << i.dwFlags << ' ' << i.dwProvParamCount
        << ' ' << i.dwKeySpec << ' ' << Hex(e.der.data(), e.der.size()) << ' '
        << Hex(i.wstrProviderName.data(), i.wstrProviderName.size() * sizeof(wchar_t)) << ' '
        << Hex(i.wstrContainerName.data(), i.wstrContainerName.size() * sizeof(wchar_t)) << '\n';
  }
  out.close();
  return static_cast<bool>(out);
}

std::optional<StoreSnapshot> ReadSnapshotFile(const std::string& file) {
  std::ifstream in(file);
  if (!in) {
    return std::nullopt;
  }
  StoreSnapshot snapshot;
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    StoreSnapshotEntry e;
    std::string der, provider, container;
    auto& i = e.info;
    if (!(fields >> e.hasKeyProvInfo >> i.dwProvType >> i.dwFlags >> i.dwProvParamCount >>
          i.dwKeySpec >> der >> provider >> container)) {
      return std::nullopt;
    }
    e.der = Unhex(der);
    i.wstrProviderName = UnhexWide(provider);
    i.wstrContainerName = UnhexWide(container);
    snapshot.push_back(std::move(e));
  }
  return snapshot;
}

std::string TempFileName() {
  char dir[MAX_PATH] = {};
  char name[MAX_PATH] = {};
  if (::GetTempPathA(MAX_PATH, dir) == 0 || ::GetTempFileNameA(dir, "mss", 0, name) == 0) {
    return std::string();
  }
  return name;
}

}  // namespace

StoreSnapshot ReadStoreSnapshot(StoreLocation location) {
  StoreSnapshot snapshot;
  merro::provider::CertStore store;
  if (FAILED(merro::provider::CertStore::OpenMy(location, &store))) {
    return snapshot;
  }
  PCCERT_CONTEXT p = nullptr;
  while ((p = ::CertEnumCertificatesInStore(store.Get(), p)) != nullptr) {
    StoreSnapshotEntry e;
    e.der.assign(p->pbCertEncoded, p->pbCertEncoded + p->cbCertEncoded);
    e.hasKeyProvInfo = SUCCEEDED(merro::provider::ReadStoreEntryInfo(p, &e.info));
    snapshot.push_back(std::move(e));
  }
  return snapshot;
}

std::optional<StoreSnapshot> ReadStoreSnapshotInChild(StoreLocation location) {
  const std::string file = TempFileName();
  if (file.empty()) {
    return std::nullopt;
  }
  ChildProcess child = ChildProcess::StartSelf(
      {kChildFlag, location == StoreLocation::LocalMachine ? "m" : "u", file});
  std::optional<StoreSnapshot> snapshot;
  if (child.Join() == 0) {
    snapshot = ReadSnapshotFile(file);
  }
  std::remove(file.c_str());
  return snapshot;
}

std::vector<StoreSnapshotEntry> EntriesFor(const StoreSnapshot& snapshot, const CertBytes& der) {
  std::vector<StoreSnapshotEntry> out;
  for (const StoreSnapshotEntry& e : snapshot) {
    if (e.der == der) {
      out.push_back(e);
    }
  }
  return out;
}

bool ClearStores() {
  for (StoreLocation location : {StoreLocation::CurrentUser, StoreLocation::LocalMachine}) {
    for (const StoreSnapshotEntry& e : ReadStoreSnapshot(location)) {
      merro::provider::DeleteEntry(location, e.der.data(), static_cast<DWORD>(e.der.size()));
    }
  }
  return ReadStoreSnapshot(StoreLocation::CurrentUser).empty() &&
         ReadStoreSnapshot(StoreLocation::LocalMachine).empty();
}

bool RunStoreSnapshotChild(int argc, char** argv, int* pExitCode) {
  if (argc != 4 || std::string(argv[1]) != kChildFlag) {
    return false;
  }
  const StoreLocation location =
      std::string(argv[2]) == "m" ? StoreLocation::LocalMachine : StoreLocation::CurrentUser;
  *pExitCode = WriteSnapshot(ReadStoreSnapshot(location), argv[3]) ? 0 : 1;
  return true;
}

}  // namespace merro::testing
