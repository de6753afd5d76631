// The function table: version, the 59 filled slots, the three empty ones.
#include "tokenapi/api/function_table.h"

#include <gtest/gtest.h>

#include <cstring>

#include "tokenapi/api/token_api.h"

namespace {

// The slots as raw pointers, in table order.
const void* const* Slots(const TOKEN_FUNCTION_LIST* list) {
  return reinterpret_cast<const void* const*>(&list->pEnumDevice);
}

template <class F>
const void* Address(F f) {
  const void* p = nullptr;
  static_assert(sizeof f == sizeof p, "function pointers are one pointer wide");
  std::memcpy(&p, &f, sizeof p);
  return p;
}

TEST(FunctionTableTest, VersionAndEntryPointsInSlotOrder) {
  TOKEN_FUNCTION_LIST* list = nullptr;
  ASSERT_EQ(GetTokenFunctionList(&list), 0);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(list->version.major, 1);
  EXPECT_EQ(list->version.minor, 0);

  const void* const expected[MR_FUNCTION_LIST_SLOTS] = {
      Address(EnumDevice),      Address(OpenDevice),
      Address(CloseDevice),     Address(EnumContainer),
      Address(CreateContainer), Address(DeleteContainer),
      Address(ReadContainer),   Address(WriteContainer),
      Address(EnableContainer), Address(VerifyPIN),
      Address(ChangePIN),       Address(UnlockPIN),
      Address(GetPINStatus),    Address(ExternalAuth),
      Address(SetSessionKey),   nullptr,
      Address(GenerateRandom),  Address(GenerateKeyPair),
      Address(ImportKeyPair),   nullptr,
      Address(ExportPublicKey), Address(ImportCert),
      Address(ExportCert),      Address(AsymKeyInit),
      Address(AsymKeyFinal),    Address(SignXML),
      Address(DigestInit),      Address(DigestUpdate),
      Address(DigestFinal),     Address(SignDataResult),
      Address(SignDigest),      Address(PrikeyDec),
      Address(HWSymKeyCrypto),  Address(VerifySignature),
      Address(PubkeyEnc),       Address(HashInit),
      Address(HashUpdate),      Address(HashFinal),
      Address(SymKeyInit),      Address(SymKeyUpdate),
      Address(SymKeyFinal),     Address(EraseMF),
      Address(EraseCOS),        Address(InitTokenFile),
      Address(GetChipSN),       Address(GetDeviceInfo),
      Address(SetTokenName),    Address(GetTokenName),
      Address(SetTokenSN),      Address(GetTokenSN),
      Address(SetDevLabel),     Address(GetDevLabel),
      Address(WriteFlash),      Address(ReadFlash),
      Address(EraseFlash),      nullptr,
      Address(SelectFile),      Address(CreateCosFile),
      Address(WriteCosFile),    Address(ReadCosFile),
      Address(EraseCosFile),    Address(DeleteCosFile),
  };
  const void* const* slots = Slots(list);
  size_t filled = 0;
  for (size_t i = 0; i < MR_FUNCTION_LIST_SLOTS; ++i) {
    EXPECT_EQ(slots[i], expected[i]) << "slot " << i;
    filled += slots[i] != nullptr ? 1 : 0;
  }
  EXPECT_EQ(filled, 59u);
  EXPECT_EQ(list->pEmpty15, nullptr);
  EXPECT_EQ(list->pEmpty19, nullptr);
  EXPECT_EQ(list->pEmpty55, nullptr);
}

TEST(FunctionTableTest, EveryCallHandsOutTheSameTable) {
  TOKEN_FUNCTION_LIST* first = nullptr;
  TOKEN_FUNCTION_LIST* second = nullptr;
  ASSERT_EQ(GetTokenFunctionList(&first), 0);
  TOKEN_FUNCTION_LIST copy;
  std::memcpy(&copy, first, sizeof copy);
  ASSERT_EQ(GetTokenFunctionList(&second), 0);
  EXPECT_EQ(first, second);
  EXPECT_EQ(std::memcmp(&copy, second, sizeof copy), 0);
}

TEST(FunctionTableTest, NullDestinationIsRefused) {
  EXPECT_EQ(static_cast<std::uint32_t>(GetTokenFunctionList(nullptr)), 0x80070001u);
}

// A slot calls the entry point itself.
TEST(FunctionTableTest, SlotCallsTheEntryPoint) {
  TOKEN_FUNCTION_LIST* list = nullptr;
  ASSERT_EQ(GetTokenFunctionList(&list), 0);
  EXPECT_EQ(static_cast<std::uint32_t>(list->pGetChipSN(nullptr, nullptr, nullptr)), 0x80070001u);
}

}  // namespace
