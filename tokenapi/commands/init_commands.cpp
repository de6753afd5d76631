// Token initialisation: the file system of an empty token.
#include "tokenapi/commands/init_commands.h"

#include "foundation/secure_wipe.h"
#include "tokenapi/commands/auth_commands.h"
#include "tokenapi/commands/device_commands.h"
#include "tokenapi/commands/file_commands.h"
#include "tokenapi/commands/key_commands.h"
#include "tokenapi/commands/routine_steps.h"
#include "tokenapi/commands/token_files.h"

using merro::commands::FileConditions;
using merro::commands::kResultBadReply;
using merro::commands::PinSetting;
using merro::commands::SelectStep;
using merro::commands::StepResult;

namespace {

constexpr FileConditions kPinFile{{0xFF, 0xFF, 0x11, 0x11, 0x01}};
constexpr FileConditions kConfigFile{{0x00, 0xFF, 0x11, 0x11, 0x02}};
constexpr FileConditions kTokenInfoFile{{0x00, 0x01, 0x11, 0x11, 0x21}};
constexpr FileConditions kObjectHeaderFile{{0x01, 0x11, 0x11, 0x01, 0x21}};
constexpr FileConditions kContainerFile{{0x00, 0x01, 0x11, 0x01, 0x21}};
constexpr BYTE kExternKeyRetry = 6;

// Creates one file; a failure is logged as `step` of `scope`.
HRESULT CreateFileStep(const TraceHelper& scope, const wchar_t* step, DEV_CTX* pDevCtx, WORD fid,
                       WORD size, const FileConditions& conditions) {
  MR_TRACE("CreateFileStep");
  BYTE description[MR_FILE_INFO_LEN];
  merro::commands::BuildFileDescription(fid, size, conditions, description);
  return StepResult(scope, step, mr_CreateFile(pDevCtx, description));
}

struct WipedSetting {
  PinSetting setting{};
  ~WipedSetting() { merro::SecureWipe(&setting, sizeof setting); }
};

struct WipedKey {
  BYTE bytes[MR_EXTERN_KEY_LEN] = {};
  ~WipedKey() { merro::SecureWipe(bytes, sizeof bytes); }
};

}  // namespace

HRESULT mr_CreatePinFile(DEV_CTX* pDevCtx) {
  MR_TRACE("mr_CreatePinFile");
  HRESULT hr = CreateFileStep(mrTraceScope_, L"mr_CreateFile(PIN)", pDevCtx, MR_PIN_FID,
                              MR_PIN_FILE_SIZE, kPinFile);
  if (FAILED(hr)) {
    return hr;
  }
  hr = SelectStep(mrTraceScope_, L"mr_SelectFile(PIN)", pDevCtx, MR_PIN_FID);
  if (FAILED(hr)) {
    return hr;
  }
  const std::string path = merro::commands::PinFilePath();
  const struct {
    const char* section;
    BYTE keyType;
    const wchar_t* step;
  } pins[] = {
      {"User", MR_KEY_USER_PIN, L"mr_WriteKey(USER)"},
      {"Manager", MR_KEY_ADMIN_PIN, L"mr_WriteKey(ADMIN)"},
      {"Unlock", MR_KEY_UNLOCK_PIN, L"mr_WriteKey(UNLOCK)"},
  };
  for (const auto& pin : pins) {
    WipedSetting read;
    merro::commands::ReadPinSetting(path.c_str(), pin.section, &read.setting);
    hr = StepResult(
        mrTraceScope_, pin.step,
        mr_WriteKey(pDevCtx, pin.keyType, reinterpret_cast<const BYTE*>(read.setting.szPin),
                    read.setting.nPinLen, read.setting.byRetry));
    if (FAILED(hr)) {
      return hr;
    }
  }
  return S_OK;
}

HRESULT mr_CreateMainKey(DEV_CTX* pDevCtx) {
  MR_TRACE("mr_CreateMainKey");
  HRESULT hr = StepResult(mrTraceScope_, L"mr_WriteKey(MR_KEY_EXTERN_CFG)",
                          mr_WriteKey(pDevCtx, MR_KEY_EXTERN_CFG, MR_EXTERN_CFG_KEY,
                                      MR_EXTERN_KEY_LEN, kExternKeyRetry));
  if (FAILED(hr)) {
    return hr;
  }
  hr = StepResult(mrTraceScope_, L"mr_ExternalAuth(MR_KEY_EXTERN_CFG)",
                  mr_ExternalAuth(pDevCtx, MR_EXTERN_CFG_KEY, MR_KEY_EXTERN_CFG));
  if (FAILED(hr)) {
    return hr;
  }
  hr = StepResult(mrTraceScope_, L"mr_GetDevInfo", mr_GetDevInfo(pDevCtx, 1, nullptr));
  if (FAILED(hr)) {
    return hr;
  }
  BYTE chipSn[MR_CHIP_SN_LEN] = {};
  DWORD chipSnLen = sizeof chipSn;
  hr = StepResult(mrTraceScope_, L"mr_GetChipSN", mr_GetChipSN(pDevCtx, chipSn, &chipSnLen));
  if (FAILED(hr)) {
    return hr;
  }
  MR_FAIL_IF(chipSnLen != sizeof chipSn, L"CHECK chip SN length", kResultBadReply);
  // The per-token key exists only while this function runs.
  WipedKey key;
  hr = merro::commands::DeriveExternKey(mrTraceScope_, pDevCtx, chipSn, sizeof chipSn, key.bytes);
  if (FAILED(hr)) {
    return hr;
  }
  hr =
      StepResult(mrTraceScope_, L"mr_WriteKey(MR_KEY_EXTERN)",
                 mr_WriteKey(pDevCtx, MR_KEY_EXTERN, key.bytes, sizeof key.bytes, kExternKeyRetry));
  if (FAILED(hr)) {
    return hr;
  }
  return StepResult(mrTraceScope_, L"mr_ExternalAuth(MR_KEY_EXTERN)",
                    mr_ExternalAuth(pDevCtx, key.bytes, MR_KEY_EXTERN));
}

HRESULT mr_CreateConfigFile(DEV_CTX* pDevCtx) {
  MR_TRACE("mr_CreateConfigFile");
  return CreateFileStep(mrTraceScope_, L"mr_CreateFile(CONFIG)", pDevCtx, MR_CONFIG_FID,
                        MR_CONFIG_FILE_SIZE, kConfigFile);
}

HRESULT mr_CreateTokenInfoFile(DEV_CTX* pDevCtx) {
  MR_TRACE("mr_CreateTokenInfoFile");
  return CreateFileStep(mrTraceScope_, L"mr_CreateFile(TOKEN_INFO)", pDevCtx, MR_TOKEN_INFO_FID,
                        MR_TOKEN_INFO_FILE_SIZE, kTokenInfoFile);
}

HRESULT mr_CreateDataObjectRecordFile(DEV_CTX* pDevCtx) {
  MR_TRACE("mr_CreateDataObjectRecordFile");
  return CreateFileStep(mrTraceScope_, L"mr_CreateFile(OBJECT_HEADER)", pDevCtx,
                        MR_OBJECT_HEADER_FID, MR_OBJECT_HEADER_FILE_SIZE, kObjectHeaderFile);
}

HRESULT mr_CreateContainerFile(DEV_CTX* pDevCtx) {
  MR_TRACE("mr_CreateContainerFile");
  const HRESULT hr = CreateFileStep(mrTraceScope_, L"mr_CreateFile(Container)", pDevCtx, CTNR_FID,
                                    MR_CTNR_FILE_SIZE, kContainerFile);
  if (FAILED(hr)) {
    return hr;
  }
  return CreateFileStep(mrTraceScope_, L"mr_CreateFile(Pellow Container Index)", pDevCtx,
                        CTNR_INDEX, MR_CTNR_FILE_SIZE, kContainerFile);
}

HRESULT mr_InitTokenFile(DEV_CTX* pDevCtx) {
  MR_TRACE("mr_InitTokenFile");
  // The clock is set on a best-effort basis: its result does not count.
  mr_AdjustClock(pDevCtx);
  const struct {
    const wchar_t* step;
    HRESULT (*run)(DEV_CTX*);
  } steps[] = {
      {L"mr_CreatePinFile", mr_CreatePinFile},
      {L"mr_CreateMainKey", mr_CreateMainKey},
      {L"mr_CreateConfigFile", mr_CreateConfigFile},
      {L"mr_CreateTokenInfoFile", mr_CreateTokenInfoFile},
      {L"mr_CreateDataObjectRecordFile", mr_CreateDataObjectRecordFile},
      {L"mr_CreateKeyFile(SM2)",
       [](DEV_CTX* c) { return mr_CreateKeyFile(c, MR_TEMP_SM2_KEY_FID); }},
      {L"mk_GenerateKeyPair(SM2)",
       [](DEV_CTX* c) { return mr_GenerateKeyPair(c, MR_ALG_SM2, MR_TEMP_SM2_KEY_FID, nullptr); }},
      {L"mr_CreateContainerFile", mr_CreateContainerFile},
  };
  for (const auto& step : steps) {
    const HRESULT hr = StepResult(mrTraceScope_, step.step, step.run(pDevCtx));
    if (FAILED(hr)) {
      return hr;
    }
  }
  return S_OK;
}
