// merro-sigpath-bench.exe: what a signature, a verification, a named
// acquire with its release and a decryption cost through CryptoAPI and the
// registered provider, in commands the token received (the simulator's
// command log) and in time (median and 95th percentile over the runs),
// beside the same work done directly through the token API in the same run
// (the floor), for RSA-1024, RSA-2048 and SM2.
//
// Usage: merro-sigpath-bench.exe [--runs N] [--ceiling KEY=N]...
//   --runs N        runs of every step (default 200)
//   --ceiling KEY=N fail (exit status 2) when one signature of KEY
//                   (RSA-1024, RSA-2048, SM2) sends more than N commands
// It needs MERRO_TOKEN_SIM (the simulator; token 0 is prepared afresh) and
// merrocsp.dll registered in the Wine prefix (scripts/bench-signature-path
// does both). C:\windows\TAVR.flag is present while it runs, so the
// factory PIN stands in for the PIN prompt.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "benchmarks/signature_path/cryptoapi_work.h"
#include "benchmarks/signature_path/path_rows.h"
#include "benchmarks/signature_path/step_meter.h"
#include "benchmarks/signature_path/token_api_work.h"
#include "foundation/alg_ids.h"
#include "tests/csp/cryptoapi_fixture.h"

namespace {

using merro::bench::CryptoApiWork;
using merro::bench::KeyKind;
using merro::bench::PathRows;
using merro::bench::PathWork;
using merro::bench::StepMeter;
using merro::bench::StepSamples;
using merro::bench::TokenApiWork;
using merro::testing::DeviceBench;

constexpr size_t kToken = 0;

const KeyKind kKinds[] = {
    {"RSA-1024", AT_SIGNATURE, AT_KEYEXCHANGE, 1024u << 16, CALG_SHA1, MR_ALG_RSA1024, MR_ALG_SHA1,
     128},
    {"RSA-2048", AT_SIGNATURE, AT_KEYEXCHANGE, 2048u << 16, CALG_SHA1, MR_ALG_RSA2048, MR_ALG_SHA1,
     256},
    {"SM2", CALG_SM2_SIGN, CALG_SM2_KEYX, 0, CALG_SM3, MR_ALG_SM2, MR_ALG_SM3, 64},
};

struct Options {
  int runs = 200;
  std::map<std::string, size_t> ceilings;  // key kind -> most commands per signature
};

bool ParseOptions(int argc, char** argv, Options* pOptions) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--runs" && i + 1 < argc) {
      pOptions->runs = std::atoi(argv[++i]);
      if (pOptions->runs < 1) {
        return false;
      }
    } else if (arg == "--ceiling" && i + 1 < argc) {
      const std::string spec = argv[++i];
      const size_t eq = spec.find('=');
      if (eq == std::string::npos || eq == 0 || eq + 1 == spec.size()) {
        return false;
      }
      pOptions->ceilings[spec.substr(0, eq)] = std::strtoul(spec.c_str() + eq + 1, nullptr, 10);
    } else {
      return false;
    }
  }
  return true;
}

// Everything measured for one key kind.
struct Subject {
  const KeyKind* kind;
  std::unique_ptr<PathWork> cryptoApi;
  std::unique_ptr<PathWork> tokenApi;
  PathRows rows;
};

bool RunOnce(StepMeter& meter, Subject& s, PathRows* pRows, std::string* pError) {
  using Piece = bool (PathWork::*)(StepMeter&, PathRows*, std::string*);
  for (const Piece piece :
       {&PathWork::Sign, &PathWork::Verify, &PathWork::AcquireAndRelease, &PathWork::Decrypt}) {
    // Each piece beside its floor, so both meet the same machine load.
    for (PathWork* work : {s.cryptoApi.get(), s.tokenApi.get()}) {
      if (!(work->*piece)(meter, pRows, pError)) {
        return false;
      }
    }
  }
  return true;
}

void PrintRow(const char* kind, const char* step, const StepSamples& s, const StepSamples* floor) {
  std::printf("| %-8s | %-24s | %3zu | %7.2f | %7.2f |", kind, step, s.Commands(), s.MedianMs(),
              s.P95Ms());
  if (floor != nullptr && !floor->Empty()) {
    const double ratio = floor->MedianMs() > 0 ? s.MedianMs() / floor->MedianMs() : 0.0;
    std::printf(" %3zu | %7.2f | %7.2f | %5.2f |\n", floor->Commands(), floor->MedianMs(),
                floor->P95Ms(), ratio);
  } else {
    std::printf("     |         |         |       |\n");
  }
  if (s.FewestCommands() != s.Commands()) {
    std::printf("|          |   (commands varied: %zu to %zu)\n", s.FewestCommands(), s.Commands());
  }
}

void PrintTable(const std::vector<Subject>& subjects, int runs) {
  std::printf("\n%d runs; times in milliseconds; floor: the same work through the token API\n\n",
              runs);
  std::printf(
      "| key      | step                     | cmd |  median |     p95 | "
      "floor cmd | floor median | floor p95 | time / floor |\n");
  std::printf("|---|---|--:|--:|--:|--:|--:|--:|--:|\n");
  for (const Subject& s : subjects) {
    const PathRows& r = s.rows;
    const char* k = s.kind->name;
    PrintRow(k, "CryptCreateHash", r.createHash, nullptr);
    PrintRow(k, "CryptHashData", r.hashData, nullptr);
    PrintRow(k, "CryptSignHash", r.signHash, nullptr);
    PrintRow(k, "CryptDestroyHash", r.destroyHash, nullptr);
    PrintRow(k, "signature (all four)", r.signature, &r.floorSignature);
    PrintRow(k, "verification", r.verification, &r.floorVerification);
    PrintRow(k, "named acquire + release", r.acquireRelease, &r.floorAcquireRelease);
    PrintRow(k, "decryption", r.decryption, &r.floorDecryption);
  }
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, &options)) {
    std::fprintf(stderr, "usage: merro-sigpath-bench.exe [--runs N] [--ceiling KEY=N]...\n");
    return 1;
  }
  merro::testing::csp::TavrFlag flag(true);
  DeviceBench::Insert(static_cast<int>(kToken));
  std::vector<std::string> names;
  for (const KeyKind& kind : kKinds) {
    names.push_back(std::string("merro-bench-") + kind.name);
  }
  if (!DeviceBench::Prepare(static_cast<int>(kToken))) {
    std::fprintf(stderr, "merro-sigpath-bench: token %zu cannot be prepared\n", kToken);
    return 1;
  }
  const std::string device = DeviceBench::DeviceName(static_cast<int>(kToken));
  std::vector<Subject> subjects;
  std::string error;
  for (size_t i = 0; i < std::size(kKinds); ++i) {
    Subject s{&kKinds[i],
              std::make_unique<CryptoApiWork>(kKinds[i], names[i]),
              std::make_unique<TokenApiWork>(kKinds[i], names[i], device, DeviceBench::kFactoryPin),
              {}};
    if (!s.cryptoApi->SetUp(&error) || !s.tokenApi->SetUp(&error)) {
      std::fprintf(stderr, "merro-sigpath-bench: %s: %s\n", kKinds[i].name, error.c_str());
      return 1;
    }
    subjects.push_back(std::move(s));
  }

  StepMeter meter(kToken);
  for (Subject& s : subjects) {
    // One run first that is not counted: the first use warms caches.
    PathRows warmUp;
    if (!RunOnce(meter, s, &warmUp, &error)) {
      std::fprintf(stderr, "merro-sigpath-bench: %s: %s\n", s.kind->name, error.c_str());
      return 1;
    }
  }
  for (int run = 0; run < options.runs; ++run) {
    for (Subject& s : subjects) {
      if (!RunOnce(meter, s, &s.rows, &error)) {
        std::fprintf(stderr, "merro-sigpath-bench: %s, run %d: %s\n", s.kind->name, run + 1,
                     error.c_str());
        return 1;
      }
    }
  }
  PrintTable(subjects, options.runs);

  int status = 0;
  for (const Subject& s : subjects) {
    const auto ceiling = options.ceilings.find(s.kind->name);
    if (ceiling != options.ceilings.end() && s.rows.signature.Commands() > ceiling->second) {
      std::fprintf(stderr,
                   "merro-sigpath-bench: one %s signature sent %zu commands, more than %zu\n",
                   s.kind->name, s.rows.signature.Commands(), ceiling->second);
      status = 2;
    }
  }
  return status;
}
