// Transaction-message recognition through MSXML, on threads with and
// without COM of their own.
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>
#include <objbase.h>

#include <string>
#include <thread>
#include <vector>

#include "foundation/win/transaction_message.h"

namespace {

HRESULT H(std::uint32_t v) { return static_cast<HRESULT>(v); }

const HRESULT kPass = S_OK;
const HRESULT kNotOfFormat = H(0x80090005);
const HRESULT kNotFound = H(0x80004005);
const HRESULT kDomFailure = H(0x800705B9);
const HRESULT kBadArgument = H(0x80070057);

std::string Repeat(const std::string& s, int n) {
  std::string out;
  for (int i = 0; i < n; ++i) {
    out += s;
  }
  return out;
}

const std::string kM = "<M><k>payee</k><v>ACME</v></M>";

struct Case {
  const char* name;
  DWORD type;
  std::string message;
  HRESULT expected;
};

std::vector<Case> Cases() {
  const std::string tavr = "<SignData><KeyType>SM2</KeyType><Fields><F n=\"a\">1</F></Fields></SignData>";
  const std::string qarn = "<R><D>" + Repeat(kM, 4) + "</D><E>" + kM + "</E></R>";
  return {
      {"TAVR", 2, tavr, kPass},
      {"TAVR pretty-printed with declaration", 2,
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<SignData>\r\n  <KeyType>RSA</KeyType>\r\n"
       "  <Fields>\r\n    <F n=\"amount\">12.00</F>\r\n  </Fields>\r\n</SignData>\r\n",
       kPass},
      {"TAVR with Chinese values", 2,
       "<SignData><KeyType>SM2</KeyType><Fields><F n=\"\xE6\x94\xB6\xE6\xAC\xBE\xE4\xBA\xBA\">"
       "\xE5\xBC\xA0\xE4\xB8\x89</F><F n=\"\xE9\x87\x91\xE9\xA2\x9D\">100.00\xE5\x85\x83</F>"
       "</Fields></SignData>",
       kPass},
      {"TAVR with a trailing NUL", 2, tavr + std::string(1, '\0'), kPass},
      {"TAVR child name holds KeyType", 2, "<SignData><MyKeyTypeX/><Fields/></SignData>", kPass},
      {"TAVR text node ahead of the elements", 2, "<SignData>note<KeyType/><Fields/></SignData>", kPass},
      {"TAVR comment after the root", 2, tavr + "<!-- end -->", kNotOfFormat},
      {"TAVR prefixed root name", 2,
       "<t:SignData xmlns:t=\"urn:t\"><t:KeyType/><t:Fields/></t:SignData>", kNotOfFormat},
      {"TAVR root in lower case", 2, "<signdata><KeyType/><Fields/></signdata>", kNotOfFormat},
      {"TAVR without Fields", 2, "<SignData><KeyType/></SignData>", kNotFound},
      {"malformed", 2, "<SignData><KeyType></SignData>", kDomFailure},
      {"only blanks", 2, "   ", kDomFailure},
      {"type 3 with a good document", 3, tavr, kNotFound},
      {"QARN document as TAVR", 2, qarn, kNotOfFormat},
      {"QARN", 1, qarn, kPass},
      {"QARN pretty-printed", 1,
       "<?xml version=\"1.0\"?>\n<R>\n <D>\n" + Repeat("  " + kM + "\n", 4) + " </D>\n <E>\n  " + kM +
           "\n </E>\n</R>\n",
       kPass},
      {"QARN with three M", 1, "<R><D>" + Repeat(kM, 3) + "</D><E>" + kM + "</E></R>", kNotOfFormat},
      {"QARN text beside the M elements", 1,
       "<R><D>note" + Repeat(kM, 4) + "</D><E>" + kM + "</E></R>", kNotOfFormat},
      {"QARN empty E", 1, "<R><D>" + Repeat(kM, 4) + "</D><E/></R>", kNotOfFormat},
      {"QARN M without v", 1,
       "<R><D>" + Repeat(kM, 3) + "<M><k>x</k></M></D><E>" + kM + "</E></R>", kNotFound},
      {"QARN Fields found for D", 1,
       "<R><Fields/><D>" + Repeat(kM, 4) + "</D><E>" + kM + "</E></R>", kNotOfFormat},
      {"QARN comment after the root", 1, qarn + "<!--x-->", kNotFound},
      // "D" is found in "Fields", whose one child is too few.
      {"TAVR document as QARN", 1, tavr, kNotOfFormat},
  };
}

HRESULT Check(const Case& c) {
  return CheckIsTransactionMessage(c.type, reinterpret_cast<const BYTE*>(c.message.data()),
                                   static_cast<DWORD>(c.message.size()));
}

void RunTable() {
  for (const Case& c : Cases()) {
    EXPECT_EQ(Check(c), c.expected) << c.name;
  }
}

TEST(TransactionMessage, TableOnTheMainThread) { RunTable(); }

// The provider is called on threads that never initialised COM; the check
// must work there and leave COM as it found it.
TEST(TransactionMessage, TableOnAThreadWithoutCom) {
  std::thread worker([] {
    RunTable();
    const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    EXPECT_EQ(hr, S_OK) << "the check left COM initialised on this thread";
    if (SUCCEEDED(hr)) {
      ::CoUninitialize();
    }
  });
  worker.join();
}

TEST(TransactionMessage, ThreadInTheMultithreadedApartment) {
  std::thread worker([] {
    ASSERT_EQ(::CoInitializeEx(nullptr, COINIT_MULTITHREADED), S_OK);
    RunTable();
    ::CoUninitialize();
  });
  worker.join();
}

TEST(TransactionMessage, ArgumentsAreCheckedBeforeLoading) {
  const BYTE doc[] = "<SignData><KeyType/><Fields/></SignData>";
  EXPECT_EQ(CheckIsTransactionMessage(2, nullptr, 10), kBadArgument);
  EXPECT_EQ(CheckIsTransactionMessage(2, doc, 0), kBadArgument);
}

TEST(TransactionMessage, LoadedDocumentsResolveNothingExternal) {
  ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED)));
  {
    const std::string text = "<SignData><KeyType/><Fields/></SignData>";
    IXMLDOMDocument* doc = nullptr;
    ASSERT_EQ(LoadXMLDom(reinterpret_cast<const BYTE*>(text.data()), static_cast<DWORD>(text.size()), &doc),
              S_OK);
    VARIANT_BOOL resolve = VARIANT_TRUE;
    EXPECT_EQ(doc->get_resolveExternals(&resolve), S_OK);
    EXPECT_EQ(resolve, VARIANT_FALSE);
    doc->Release();

    // A document type declaration is refused outright.
    const std::string withDtd = "<!DOCTYPE SignData [<!ENTITY a \"b\">]><SignData>&a;<KeyType/><Fields/></SignData>";
    doc = reinterpret_cast<IXMLDOMDocument*>(0x1);
    EXPECT_EQ(LoadXMLDom(reinterpret_cast<const BYTE*>(withDtd.data()), static_cast<DWORD>(withDtd.size()), &doc),
              kDomFailure);
    EXPECT_EQ(doc, reinterpret_cast<IXMLDOMDocument*>(0x1)) << "nothing is handed out on failure";
  }
  ::CoUninitialize();
}

// A loopback listener that records whether anybody connected.
class Listener {
 public:
  Listener() {
    WSADATA data;
    m_started = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    m_socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int len = sizeof addr;
    if (::bind(m_socket, reinterpret_cast<sockaddr*>(&addr), len) == 0 &&
        ::listen(m_socket, 4) == 0 &&
        ::getsockname(m_socket, reinterpret_cast<sockaddr*>(&addr), &len) == 0) {
      m_port = ntohs(addr.sin_port);
    }
  }
  ~Listener() {
    ::closesocket(m_socket);
    if (m_started) {
      ::WSACleanup();
    }
  }
  int Port() const { return m_port; }
  bool Contacted() const {
    fd_set set;
    FD_ZERO(&set);
    FD_SET(m_socket, &set);
    timeval wait{0, 200000};
    return ::select(0, &set, nullptr, nullptr, &wait) > 0;
  }

 private:
  bool m_started = false;
  SOCKET m_socket = INVALID_SOCKET;
  int m_port = 0;
};

std::string Narrow(const std::wstring& w) { return std::string(w.begin(), w.end()); }

// External entities are never resolved: not from a file (whose content would
// complete the document) and not from the network.
TEST(TransactionMessage, ExternalEntitiesAreNotFetched) {
  wchar_t temp[MAX_PATH];
  ASSERT_GT(::GetTempPathW(MAX_PATH, temp), 0u);
  const std::wstring part = std::wstring(temp) + L"merro-entity-" + std::to_wstring(::GetTickCount()) + L".xml";
  {
    HANDLE h = ::CreateFileW(part.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    ASSERT_NE(h, INVALID_HANDLE_VALUE);
    const char text[] = "<KeyType>SM2</KeyType><Fields/>";
    DWORD written = 0;
    ::WriteFile(h, text, sizeof text - 1, &written, nullptr);
    ::CloseHandle(h);
  }
  std::string url = "file:///" + Narrow(part);
  for (char& ch : url) {
    if (ch == '\\') {
      ch = '/';
    }
  }
  Listener listener;
  ASSERT_NE(listener.Port(), 0);
  const std::string http = "http://127.0.0.1:" + std::to_string(listener.Port()) + "/part.xml";
  for (const std::string& system : {url, http}) {
    const std::string doc = "<?xml version=\"1.0\"?><!DOCTYPE SignData [<!ENTITY part SYSTEM \"" +
                            system + "\">]><SignData>&part;</SignData>";
    const HRESULT hr = CheckIsTransactionMessage(2, reinterpret_cast<const BYTE*>(doc.data()),
                                                 static_cast<DWORD>(doc.size()));
    EXPECT_NE(hr, S_OK) << system;
    EXPECT_LT(hr, 0) << system;
  }
  EXPECT_FALSE(listener.Contacted()) << "the parser reached out to the network";
  ::DeleteFileW(part.c_str());
}

}  // namespace
