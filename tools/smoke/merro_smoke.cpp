// merro-smoke: lists the attached tokens and, for each, opens it, reads its
// device information, chip serial number and a few random bytes through the
// public token API, and closes it again. Exits non-zero on the first failure.
// With the simulator transport, MERRO_TOKEN_SIM=host:port selects the daemon.
#include <cstdio>
#include <string>
#include <vector>

#include "tokenapi/api/token_api.h"

namespace {

bool Check(HRESULT hr, const char* what) {
  if (FAILED(hr)) {
    std::printf("  %s failed: 0x%08X\n", what, static_cast<unsigned>(hr));
    return false;
  }
  return true;
}

std::string Hex(const BYTE* p, DWORD n) {
  std::string s;
  char b[4];
  for (DWORD i = 0; i < n; ++i) {
    std::snprintf(b, sizeof b, "%02X", p[i]);
    s += b;
  }
  return s;
}

bool SmokeOne(const char* name) {
  std::printf("token %s\n", name);
  DEV_CTX* ctx = nullptr;
  if (!Check(OpenDevice(name, &ctx), "OpenDevice")) {
    return false;
  }
  bool ok = true;
  DEVICE_INFO info{};
  info.Mask = MR_DEVINFO_PART01 | MR_DEVINFO_PART02 | MR_DEVINFO_COS_VERSION |
              MR_DEVINFO_PART08 | MR_DEVINFO_PART10;
  if ((ok = Check(GetDeviceInfo(ctx, &info), "GetDeviceInfo"))) {
    std::printf("  hardware serial %s, version %s, COS %.*s, free %u blocks, flash %u KiB\n",
                Hex(info.abyPart01, info.dwPart01Len).c_str(),
                Hex(info.abyPart02, info.dwPart02Len).c_str(),
                static_cast<int>(sizeof info.szCosVersion), info.szCosVersion,
                static_cast<unsigned>(info.wPart08), static_cast<unsigned>(info.wPart10));
  }
  BYTE sn[32] = {};
  DWORD snLen = sizeof sn;
  if (ok && (ok = Check(GetChipSN(ctx, sn, &snLen), "GetChipSN"))) {
    std::printf("  chip serial %s\n", Hex(sn, snLen).c_str());
  }
  BYTE random[16] = {};
  if (ok && (ok = Check(GenerateRandom(ctx, RANDOM_FLAG_SOFT, sizeof random, random),
                        "GenerateRandom"))) {
    std::printf("  %u random bytes drawn\n", static_cast<unsigned>(sizeof random));
  }
  ok = Check(CloseDevice(ctx), "CloseDevice") && ok;
  return ok;
}

}  // namespace

int main() {
  DWORD size = 0;
  if (!Check(EnumDevice(nullptr, &size), "EnumDevice")) {
    return 1;
  }
  std::vector<BYTE> names(size + 1, 0);
  if (size == 0 || !Check(EnumDevice(names.data(), &size), "EnumDevice")) {
    std::printf("no token attached\n");
    return 1;
  }
  int tokens = 0;
  bool ok = true;
  for (const BYTE* p = names.data(); *p != 0; p += std::string(reinterpret_cast<const char*>(p)).size() + 1) {
    ok = SmokeOne(reinterpret_cast<const char*>(p)) && ok;
    ++tokens;
  }
  std::printf("%d token(s) checked: %s\n", tokens, ok ? "ok" : "FAILED");
  return ok ? 0 : 1;
}
