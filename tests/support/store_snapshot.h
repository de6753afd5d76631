// What the "MY" certificate store holds, read in this process or in a second
// one (a fresh process sees only what the store really kept: under Wine a
// deletion that was never committed is still there for the next process).
//
// Test programs that use ReadStoreSnapshotInChild link store_test_main.cpp,
// whose main() serves the child runs.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "provider/cert_store.h"
#include "tests/support/test_certificates.h"

namespace merro::testing {

struct StoreSnapshotEntry {
  CertBytes der;
  bool hasKeyProvInfo = false;
  merro::provider::StoreEntryInfo info;  // when hasKeyProvInfo
};
using StoreSnapshot = std::vector<StoreSnapshotEntry>;

// Every certificate of the store, in enumeration order.
StoreSnapshot ReadStoreSnapshot(merro::provider::StoreLocation location);

// The same, read by this test executable started again; nothing when the
// child failed.
std::optional<StoreSnapshot> ReadStoreSnapshotInChild(merro::provider::StoreLocation location);

// The entries of a snapshot with these bytes.
std::vector<StoreSnapshotEntry> EntriesFor(const StoreSnapshot& snapshot, const CertBytes& der);

// Removes every certificate from both "MY" stores, so that a scenario starts
// from an empty store; whether both are empty afterwards.
bool ClearStores();

// For main(): a child run ("--store-snapshot <u|m> <file>") writes its
// snapshot and gives the exit code in *pExitCode; true when this was one.
bool RunStoreSnapshotChild(int argc, char** argv, int* pExitCode);

}  // namespace merro::testing
