// A simulated token initialised by mr_InitTokenFile (PINs "905172"), with a
// context open on it, and direct access to the token's files for arranging
// and checking state.
#pragma once

#include <string>
#include <vector>

#include "tests/tokenapi/support/sim_fixture.h"
#include "foundation/alg_ids.h"
#include "foundation/container_record.h"
#include "tokenapi/commands/token_files.h"

namespace merro::testing {

using ByteVec = std::vector<BYTE>;

class InitialisedTokenTest : public SimulatorTest {
 protected:
  size_t TokenCount() const override { return 1; }
  void SetUp() override;

  // Content of a file of the simulated token (empty when it does not exist).
  ByteVec FileBytes(WORD fid, size_t offset, size_t n);
  bool FileExists(WORD fid);
  void PutBytes(WORD fid, size_t offset, const ByteVec& bytes);

  // The record of a slot as stored, and writing one directly.
  CONTAINER_RECORD Record(BYTE slot);
  void PutRecord(BYTE slot, BYTE flag, BYTE alg, BYTE signKeyLen, const std::string& name);
  void FreeSlot(BYTE slot);
  ByteVec Index() { return FileBytes(CTNR_INDEX, 0, MR_CTNR_INDEX_LEN); }
  void PutIndex(const ByteVec& index) { PutBytes(CTNR_INDEX, 0, index); }

  // VERIFY PIN of the user PIN "905172"; a reset with new authentication
  // drops it again.
  void VerifyUserPin();
  void ResetSecurity();

  DEV_CTX* m_ctx = nullptr;
};

// A record of this name, codes 0xFF, for creation.
CONTAINER_RECORD NamedRecord(const std::string& name);

}  // namespace merro::testing
