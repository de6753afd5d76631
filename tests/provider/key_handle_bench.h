// The fixture of the key object's tests against the daemon, on the provider
// bench: token 0 prepared (user and administrator PIN "47193628", six
// tries) with one container without keys, the token layer started over it,
// the bench's scripted UI recording every prompt, and the trace records
// collected.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "device/device_handle.h"
#include "provider/container.h"
#include "provider/key_handle.h"
#include "tests/device/support/device_bench.h"
#include "tests/device/support/scripted_user_interface.h"
#include "tests/provider/support/provider_bench.h"
#include "tests/tokenapi/api/api_test_support.h"
#include "tokenapi/api/token_api.h"

namespace merro::testing {

constexpr char kContainerName[] = "keyh container";
constexpr HRESULT H(std::uint32_t v) { return static_cast<HRESULT>(v); }
// INS of the PIN commands, as the simulator's command log lists them.
constexpr BYTE kInsVerifyPin = 0x20;
constexpr BYTE kInsChangePin = 0x21;

class KeyHandleBench : public ProviderBench {
 protected:
  void SetUp() override {
    ProviderBench::SetUp();
    if (HasFatalFailure()) {
      return;
    }
    m_dev = DeviceBench::DeviceName(0);
    StartWithContainer(m_settings.dwKeepPINTimeout);
  }

  // (Re)starts the token layer with PINs kept for dwKeepPINTimeout ms and
  // makes the container on token 0 when it has none (no key yet, so it is
  // open to new keys), through the device object's own context.
  void StartWithContainer(DWORD dwKeepPINTimeout) {
    StopTokenLayer();
    m_settings.dwKeepPINTimeout = dwKeepPINTimeout;
    ASSERT_TRUE(StartTokenLayer());
    if (g_pDeviceHandle->CheckContainerExist(m_dev.c_str(), kContainerName) != S_OK) {
      DEV_CTX* pDevCtx = nullptr;
      ASSERT_EQ(g_pDeviceHandle->GetDevCtx(m_dev.c_str(), &pDevCtx), S_OK);
      CONTAINER_RECORD record;
      std::memset(&record, 0, sizeof record);
      std::memcpy(record.szContainerName, kContainerName, sizeof kContainerName);
      ASSERT_EQ(CreateContainer(pDevCtx, &record), S_OK);
      ASSERT_EQ(g_pDeviceHandle->UpdateContainer(), S_OK);
    }
    m_container = std::make_unique<provider::Container>(m_dev.c_str(), kContainerName, TRUE, FALSE,
                                                        TRUE, FALSE);
  }
  // Token 0 as the factory leaves it again, with the container.
  void PrepareToken() {
    StopTokenLayer();
    ASSERT_TRUE(DeviceBench::Prepare(0));
    StartWithContainer(m_settings.dwKeepPINTimeout);
  }

  // A key object of the container, set up for the algorithm.
  std::unique_ptr<provider::KeyHandle> Key(ALG_ID uAlgID, DWORD dwModulusBits = 0) {
    auto key = std::make_unique<provider::KeyHandle>();
    key->m_pContainer = m_container.get();
    EXPECT_EQ(key->InitKeyHandle(uAlgID, 0), S_OK);
    if (dwModulusBits != 0) {
      key->m_dwModulusBits = dwModulusBits;
    }
    return key;
  }

  struct PinInfo {
    DWORD tries = 0xDEAD;
    DWORD status = 0xDEAD;
    DWORD modified = 0xDEAD;
  };
  PinInfo Info(DWORD dwPinType = 1) {
    PinInfo info;
    EXPECT_EQ(g_pDeviceHandle->GetPINInfo(m_dev.c_str(), dwPinType, &info.tries, &info.status,
                                          &info.modified),
              S_OK);
    return info;
  }
  HRESULT Verify(const char* pin) {
    return g_pDeviceHandle->CheckPIN(m_dev.c_str(), 1, pin, static_cast<DWORD>(std::strlen(pin)),
                                     6, 0);
  }
  // Wrong PINs until `left` tries remain; at three or fewer each one waits
  // for the token's OK (C costs no try).
  void SpendTriesUntil(DWORD left) {
    for (DWORD tries = Info().tries; tries > left; --tries) {
      if (tries <= 3) {
        DeviceBench::Control("button 0 ok");
      }
      ASSERT_EQ(Verify("99999999"), H(0x800063C0 | (tries - 1)));
    }
    ASSERT_EQ(Info().tries, left);
  }

  // The prompts of one kind the scripted UI was asked for.
  std::vector<ScriptedUserInterface::Prompt> Prompts(const std::string& kind) {
    std::vector<ScriptedUserInterface::Prompt> out;
    for (const auto& p : m_ui->Transcript()) {
      if (p.kind == kind) {
        out.push_back(p);
      }
    }
    return out;
  }
  // How many commands with this INS token 0 received since its log was cleared.
  static size_t Sent(BYTE ins) {
    size_t count = 0;
    for (BYTE b : DeviceBench::CommandLog(0)) {
      count += b == ins ? 1 : 0;
    }
    return count;
  }

  std::string m_dev;
  std::unique_ptr<provider::Container> m_container;
  apitest::TraceLines m_trace;
};

}  // namespace merro::testing
