// One token shared by several programs at once, as on a customer's PC:
// signers in processes of their own (RSA-2048/SHA-1 and SM2/SM3), a program
// that only acquires and releases verification contexts (every acquire
// loads the provider anew), and the certificate manager refreshing on
// device changes. Every signature must come back, OpenSSL must verify each
// over the data its process hashed, and the user PIN must keep all its
// tries. A signer killed inside its signatures must cost the others
// nothing.
//
// The children are this program started again (see main); each writes one
// line per signature into a file of its own: "<data hex> <signature hex>",
// or "error <i> <code>".
#include <openssl/evp.h>

#include "tests/csp/cryptoapi_fixture.h"

#include <dbt.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "foundation/alg_ids.h"
#include "tests/csp/blob_certificate.h"
#include "tests/csp/public_key_blob_oracle.h"
#include "tests/support/child_process.h"
#include "tests/tokenapi/keyobjects/signing_oracle.h"
#include "tokenapi/api/pin_api.h"
#include "tools/simplug/device_broadcast.h"

namespace {

using merro::testing::Bytes;
using merro::testing::CallWithin;
using merro::testing::ChildProcess;
using merro::testing::DeviceBench;
using merro::testing::MarkerPath;
using merro::testing::Outcome;
using merro::testing::PkeyPtr;
using merro::testing::Reversed;
using merro::testing::UniqueName;
using namespace merro::testing::csp;

constexpr int kSignaturesPerProcess = 50;

std::string Hex(const Bytes& b) {
  static const char kDigits[] = "0123456789abcdef";
  std::string s;
  for (BYTE x : b) {
    s += kDigits[x >> 4];
    s += kDigits[x & 15];
  }
  return s;
}

Bytes Unhex(const std::string& s) {
  Bytes b;
  for (size_t i = 0; i + 1 < s.size(); i += 2) {
    b.push_back(static_cast<BYTE>(std::stoul(s.substr(i, 2), nullptr, 16)));
  }
  return b;
}

// ---- the children ----

// Signs `count` messages of its own with the container's signature key
// (hash algorithm by kind), one line each into `out`. 0 when all signed.
int SignerChild(const std::string& kind, const std::string& container, int count,
                const std::string& out) {
  const ALG_ID hashAlg = kind == "sm2" ? CALG_SM3 : CALG_SHA1;
  std::ofstream lines(out);
  Provider p;
  if (!AcquireInto(&p, container.c_str(), 0).result) {
    lines << "error acquire " << ::GetLastError() << "\n";
    return 2;
  }
  int failures = 0;
  for (int i = 0; i < count; ++i) {
    const std::string text = out + " message " + std::to_string(i) + " of " +
                             std::to_string(::GetCurrentProcessId());
    const Bytes data(text.begin(), text.end());
    ScopedHash hash;
    BYTE signature[512] = {};
    DWORD length = sizeof signature;
    const bool ok = ::CryptCreateHash(p.h, hashAlg, 0, 0, &hash.h) &&
                    ::CryptHashData(hash.h, data.data(), static_cast<DWORD>(data.size()), 0) &&
                    ::CryptSignHashW(hash.h, AT_SIGNATURE, nullptr, 0, signature, &length);
    if (ok) {
      lines << Hex(data) << " " << Hex(Bytes(signature, signature + length)) << "\n";
    } else {
      lines << "error " << i << " 0x" << std::hex << ::GetLastError() << std::dec << "\n";
      ++failures;
    }
    lines.flush();
  }
  return failures == 0 ? 0 : 1;
}

// Acquires and releases verification contexts until `stop` exists; the
// number of failed acquires is its exit code.
int VerifyLoopChild(const std::string& stop) {
  int failures = 0;
  for (int i = 0; i < 100000 && !std::filesystem::exists(MarkerPath(stop)); ++i) {
    Provider p;
    if (!AcquireInto(&p, nullptr, CRYPT_VERIFYCONTEXT).result) {
      ++failures;
    }
  }
  return failures;
}

// ---- the parent ----

struct Signer {
  std::string kind;
  const PkeyPtr* key;
  std::string out;
  ChildProcess process;
};

// The signatures of one child's file: each checked by OpenSSL over its own
// data; the lines that are no valid signature, for the message.
int CountValid(const Signer& s, std::vector<std::string>* pBad) {
  std::ifstream in(s.out);
  std::string line;
  int valid = 0;
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string dataHex, sigHex;
    fields >> dataHex >> sigHex;
    if (dataHex == "error") {
      pBad->push_back(s.kind + ": " + line);
      continue;
    }
    const Bytes data = Unhex(dataHex);
    const Bytes signature = Unhex(sigHex);
    bool ok = false;
    if (s.kind == "sm2") {
      // r and s each come least significant byte first.
      Bytes rs = Reversed(Bytes(signature.begin(), signature.begin() + 32));
      const Bytes sPart = Reversed(Bytes(signature.begin() + 32, signature.end()));
      rs.insert(rs.end(), sPart.begin(), sPart.end());
      ok = signature.size() == 64 && merro::testing::Sm2VerifyMessage(s.key->get(), data, rs);
    } else {
      ok = merro::testing::RsaVerifyDigest(s.key->get(), EVP_sha1(),
                                           merro::testing::Digest(EVP_sha1(), data),
                                           Reversed(signature));
    }
    if (ok) {
      ++valid;
    } else {
      pBad->push_back(s.kind + ": signature does not verify: " + line.substr(0, 80));
    }
  }
  return valid;
}

std::string ManagerPath() {
  std::string path = "Z:";
  for (const char* p = MERRO_CERTMANAGER_PATH; *p != '\0'; ++p) {
    path += *p == '/' ? '\\' : *p;
  }
  return path;
}

class CspSharedToken : public ::testing::Test {
 public:
  static void SetUpTestSuite() {
    s_flag = std::make_unique<TavrFlag>(true);
    // Every process's PIN prompts, answered from one script file they all
    // take from (a prompt runs under the call lock, one at a time).
    s_ui = std::make_unique<ProviderUiScript>(
        std::vector<std::string>(1000, std::string("pin ") + DeviceBench::kFactoryPin));
    DeviceBench::Insert(0);
    if (!DeviceBench::Prepare(0)) {
      return;
    }
    s_ready =
        MakeContainer(AT_SIGNATURE, AT_KEYEXCHANGE, 2048, "shared-rsa", &s_rsaName, &s_rsaKey) &&
        MakeContainer(CALG_SM2_SIGN, CALG_SM2_KEYX, 256, "shared-sm2", &s_sm2Name, &s_sm2Key);
    s_maxTries = UserPinTries();
  }
  static void TearDownTestSuite() {
    RemoveStoreEntries();
    s_ui.reset();
    s_flag.reset();
  }

 protected:
  void SetUp() override { ASSERT_TRUE(s_ready) << "no signing containers"; }

  // A key pair of the container generated, with a certificate for it; the
  // public key (null on a failure, which is reported).
  static PkeyPtr KeyWithCertificate(HCRYPTPROV hProv, ALG_ID alg, DWORD bits, const char* tag) {
    ScopedKey key;
    if (!::CryptGenKey(hProv, alg, bits << 16, &key.h)) {
      ADD_FAILURE() << tag << ": CryptGenKey " << alg << " 0x" << std::hex << ::GetLastError();
      return nullptr;
    }
    DWORD length = 0;
    ::CryptExportKey(key.h, 0, PUBLICKEYBLOB, 0, nullptr, &length);
    Bytes blob(length);
    if (!::CryptExportKey(key.h, 0, PUBLICKEYBLOB, 0, blob.data(), &length)) {
      ADD_FAILURE() << tag << ": export 0x" << std::hex << ::GetLastError();
      return nullptr;
    }
    s_certificates.push_back(CertificateFor(blob));
    if (!::CryptSetKeyParam(key.h, KP_CERTIFICATE, s_certificates.back().data(), 0)) {
      ADD_FAILURE() << tag << ": KP_CERTIFICATE 0x" << std::hex << ::GetLastError();
      return nullptr;
    }
    return KeyFromBlob(blob);
  }

  // A complete container made through CryptoAPI: both key pairs, each with
  // its certificate. Only then does the token mark it available, so that
  // every process finds it and the next creation does not reclaim it.
  static bool MakeContainer(ALG_ID signAlg, ALG_ID exchAlg, DWORD bits, const char* tag,
                            std::string* pName, PkeyPtr* pSignKey) {
    *pName = UniqueName(tag);
    Provider p;
    if (!AcquireInto(&p, pName->c_str(), CRYPT_NEWKEYSET).result) {
      ADD_FAILURE() << tag << ": acquire 0x" << std::hex << ::GetLastError();
      return false;
    }
    *pSignKey = KeyWithCertificate(p.h, signAlg, bits, tag);
    return *pSignKey != nullptr && KeyWithCertificate(p.h, exchAlg, bits, tag) != nullptr;
  }

  // The "MY" entries the certificates made, removed (and the removal kept).
  static void RemoveStoreEntries() {
    HCERTSTORE store = ::CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0,
                                       CERT_SYSTEM_STORE_CURRENT_USER, L"MY");
    if (store == nullptr) {
      return;
    }
    for (const merro::testing::CertBytes& der : s_certificates) {
      PCCERT_CONTEXT wanted = ::CertCreateCertificateContext(
          X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der.data(), static_cast<DWORD>(der.size()));
      PCCERT_CONTEXT found =
          wanted == nullptr ? nullptr
                            : ::CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                           0, CERT_FIND_EXISTING, wanted, nullptr);
      if (found != nullptr) {
        ::CertDeleteCertificateFromStore(found);
      }
      if (wanted != nullptr) {
        ::CertFreeCertificateContext(wanted);
      }
    }
    ::CertControlStore(store, 0, CERT_STORE_CTRL_COMMIT, nullptr);
    ::CertCloseStore(store, 0);
  }

  // The user PIN's tries left, read in a context of the test's own.
  static int UserPinTries() {
    merro::testing::OpenToken token;
    if (!DeviceBench::Open(0, &token)) {
      return -1;
    }
    BYTE tries = 0, status = 0, modified = 0;
    if (ExternalAuth(token.get(), 0x33) != 0 || SetSessionKey(token.get()) != 0 ||
        GetPINStatus(token.get(), 1, &tries, &status, &modified) != 0) {
      return -1;
    }
    return tries;
  }

  static Signer StartSigner(const std::string& kind, int count) {
    Signer s;
    s.kind = kind;
    s.key = kind == "sm2" ? &s_sm2Key : &s_rsaKey;
    s.out = MarkerPath(UniqueName(kind.c_str())).string() + ".sig";
    s.process = ChildProcess::StartSelf(
        {"--signer", kind, kind == "sm2" ? s_sm2Name : s_rsaName, std::to_string(count), s.out});
    EXPECT_TRUE(s.process.Started());
    return s;
  }

  // Joins within a bound; a child that hangs is killed and fails the test.
  static int JoinWithin(ChildProcess* child, std::chrono::seconds limit) {
    const Outcome joined = CallWithin(limit, [child] {
      ::SetLastError(static_cast<DWORD>(child->Join()));
      return TRUE;
    });
    if (!joined.result) {
      child->Kill();
      ADD_FAILURE() << "a child did not end within " << limit.count() << " s";
      return -1;
    }
    return static_cast<int>(joined.error);
  }

  static std::unique_ptr<TavrFlag> s_flag;
  static std::unique_ptr<ProviderUiScript> s_ui;
  static bool s_ready;
  static std::string s_rsaName, s_sm2Name;
  static PkeyPtr s_rsaKey, s_sm2Key;
  static int s_maxTries;
  static std::vector<merro::testing::CertBytes> s_certificates;
};

std::unique_ptr<TavrFlag> CspSharedToken::s_flag;
std::unique_ptr<ProviderUiScript> CspSharedToken::s_ui;
bool CspSharedToken::s_ready = false;
std::string CspSharedToken::s_rsaName, CspSharedToken::s_sm2Name;
PkeyPtr CspSharedToken::s_rsaKey, CspSharedToken::s_sm2Key;
int CspSharedToken::s_maxTries = -1;
std::vector<merro::testing::CertBytes> CspSharedToken::s_certificates;

std::string Listed(const std::vector<ULONGLONG>& ms) {
  std::string text;
  for (const ULONGLONG m : ms) {
    text += std::to_string(m) + " ms ";
  }
  return text;
}

// Sends the manager's window a device change now and then (as Windows does
// on every USB event) until stopped, and keeps how long each answer took.
class DeviceChangeSender {
 public:
  DeviceChangeSender() {
    const std::wstring name = merro::simplug::UsbInterfaceName(
        merro::simplug::ChipSerialOfDevicePath(DeviceBench::DeviceName(0)));
    m_thread = std::thread([this, name] {
      while (!m_stop) {
        const HWND window = merro::simplug::FindManagerMainDialog();
        if (window != nullptr) {
          const ULONGLONG start = ::GetTickCount64();
          const bool answered = merro::simplug::SendDeviceChange(window, DBT_DEVICEREMOVECOMPLETE,
                                                                 name, kUnansweredMs);
          m_answerMs.push_back(answered ? ::GetTickCount64() - start : kUnansweredMs);
        }
        ::Sleep(150);
      }
    });
  }
  ~DeviceChangeSender() { Stop(); }
  void Stop() {
    m_stop = true;
    if (m_thread.joinable()) {
      m_thread.join();
    }
  }
  // After Stop().
  const std::vector<ULONGLONG>& AnswerMs() const { return m_answerMs; }

  // An answer this late counts as none.
  static constexpr DWORD kUnansweredMs = 30000;

 private:
  std::atomic<bool> m_stop{false};
  std::vector<ULONGLONG> m_answerMs;
  std::thread m_thread;
};

TEST_F(CspSharedToken, SignersAVerifyLoopAndTheManagerShareTheToken) {
  ASSERT_GT(s_maxTries, 0);
  ChildProcess manager = ChildProcess::Start(ManagerPath(), {});
  ASSERT_TRUE(manager.Started());
  for (int i = 0; i < 200 && merro::simplug::FindManagerMainDialog() == nullptr; ++i) {
    ::Sleep(50);
  }
  EXPECT_NE(merro::simplug::FindManagerMainDialog(), nullptr) << "the manager did not come up";
  // The manager's own start (its first tree, the first load of the
  // libraries a removal clears) is over once it has answered one device
  // change; only the refreshes beside the other processes are timed.
  EXPECT_TRUE(merro::simplug::SendDeviceChange(
      merro::simplug::FindManagerMainDialog(), DBT_DEVICEREMOVECOMPLETE,
      merro::simplug::UsbInterfaceName(
          merro::simplug::ChipSerialOfDevicePath(DeviceBench::DeviceName(0))),
      60000))
      << "the manager did not finish starting";
  DeviceChangeSender changes;

  const std::string stop = UniqueName("verify-stop");
  ChildProcess verifier = ChildProcess::StartSelf({"--verify-loop", stop});
  std::vector<Signer> signers;
  for (const char* kind : {"rsa", "rsa", "sm2", "sm2"}) {
    signers.push_back(StartSigner(kind, kSignaturesPerProcess));
  }
  for (Signer& s : signers) {
    EXPECT_EQ(JoinWithin(&s.process, std::chrono::seconds(240)), 0) << s.kind << " " << s.out;
  }
  merro::testing::WriteTickMarker(stop);
  EXPECT_EQ(JoinWithin(&verifier, std::chrono::seconds(60)), 0) << "failed verification acquires";
  changes.Stop();
  manager.Kill();
  manager.Join();

  for (Signer& s : signers) {
    std::vector<std::string> bad;
    EXPECT_EQ(CountValid(s, &bad), kSignaturesPerProcess) << s.kind << ":\n"
                                                           << ::testing::PrintToString(bad);
  }
  // The window answers each device change after a short settle and a
  // refresh that waits at most briefly for the token: typically well under
  // two seconds, and never does it stand still behind the signers (on a
  // loaded machine a single answer may take a few seconds).
  std::vector<ULONGLONG> answers = changes.AnswerMs();
  ASSERT_FALSE(answers.empty());
  std::sort(answers.begin(), answers.end());
  EXPECT_LT(answers[answers.size() / 2], 2000u) << "median answer; all: " << Listed(answers);
  EXPECT_LT(answers.back(), DeviceChangeSender::kUnansweredMs)
      << "the manager's window stood still; all answers: " << Listed(answers);
  EXPECT_EQ(UserPinTries(), s_maxTries);
}

// A signer killed (TerminateProcess) in the middle of its signatures, three
// times over: the signers beside it get every signature, and no PIN try is
// lost.
TEST_F(CspSharedToken, ASignerKilledInsideItsSignaturesCostsTheOthersNothing) {
  ASSERT_GT(s_maxTries, 0);
  std::vector<Signer> survivors;
  for (const char* kind : {"rsa", "rsa"}) {
    survivors.push_back(StartSigner(kind, kSignaturesPerProcess));
  }
  for (int round = 0; round < 3; ++round) {
    Signer victim = StartSigner("rsa", 1000);
    // Killed once it signs: from then on it spends its time in CryptSignHash.
    const auto signedOnce = [&victim] {
      std::error_code error;
      const auto size = std::filesystem::file_size(victim.out, error);
      return !error && size > 0;
    };
    for (int i = 0; i < 400 && !signedOnce(); ++i) {
      ::Sleep(25);
    }
    ::Sleep(30 * (round + 1));
    victim.process.Kill();
    victim.process.Join();
  }
  for (Signer& s : survivors) {
    EXPECT_EQ(JoinWithin(&s.process, std::chrono::seconds(240)), 0) << s.out;
    std::vector<std::string> bad;
    EXPECT_EQ(CountValid(s, &bad), kSignaturesPerProcess) << ::testing::PrintToString(bad);
  }
  EXPECT_EQ(UserPinTries(), s_maxTries);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 6 && std::string(argv[1]) == "--signer") {
    return SignerChild(argv[2], argv[3], std::stoi(argv[4]), argv[5]);
  }
  if (argc == 3 && std::string(argv[1]) == "--verify-loop") {
    return VerifyLoopChild(argv[2]);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
