// What the provider tells the certificate manager about the inserted tokens:
// one TokenInformation per token with one ContainerInformation per
// container (its key lengths and certificates), and the SecureInfo record in
// which the manager asks for and receives the default-PIN and
// certificate-expiry conditions.
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "foundation/alg_ids.h"
#include "provider/cert_store.h"

namespace merro::provider {

// The label of a token that stores no name of its own.
inline constexpr char kDefaultTokenLabel[] = "Merro30 Key";

// One container of a token. The certificate contexts are references: a copy
// of the record shares them, and the last record that holds a context frees
// it, so a list of records can be copied, filled and dropped freely.
struct ContainerInformation {
  DWORD dwKeySetAlgorithm = KEYSETALGORITHM_RSA;  // or KEYSETALGORITHM_SM2
  std::string strContainerName;   // UTF-8, from the token's container record
  std::string strDeviceName;      // the token's device name
  LONG lSignatureKeyLength = 0;   // bits: 256 (SM2), 1024 or 2048 (RSA), 0 for none
  LONG lExchangeKeyLength = 0;    // the same for the exchange key
  CertContext signatureCert;      // empty when the container has none
  CertContext exchangeCert;       // empty when the container has none
};

// One inserted token: its device name, its label (the token's name, or
// kDefaultTokenLabel) and its containers in token order.
struct TokenInformation {
  std::string strDeviceName;
  std::string strTokenLabel;
  std::vector<ContainerInformation> vecContainers;
};
using TokenInformationList = std::vector<TokenInformation>;

// The name token pszDevName stores (UTF-8), without the unwritten bytes of
// a name file; empty when it stores none or it cannot be read.
std::string ReadStoredTokenName(const char* pszDevName);

// dwCertAlertDays: no date check at all.
inline constexpr LONG CERT_VALID_DATE_NOALERT = -1;

// dwCertDateState values.
inline constexpr DWORD kCertDateStateNone = 0;      // nothing to report
inline constexpr DWORD kCertDateStateExpiring = 1;  // expires within dwCertAlertDays days
inline constexpr DWORD kCertDateStateExpired = 2;   // has expired

// The manager's in/out record for the default-PIN and expiry conditions.
struct SecureInfo {
  BOOL bDefaultPIN = FALSE;   // out: an inserted token's user PIN was never changed
  LONG dwCertAlertDays = 0;   // in: days before expiry that count as "about to
                              // expire" (the manager passes 90), or CERT_VALID_DATE_NOALERT
  DWORD dwCertDateState = kCertDateStateNone;  // out
  SYSTEMTIME stCertDate = {};                  // out: NotAfter of the certificate that set the state
};

}  // namespace merro::provider
