// OpenSSL as the judge of the CMS SignedData that crypt32 makes with the
// provider's keys. Kept apart from the tests' Windows headers: wincrypt.h's
// macros clash with OpenSSL's X.509 headers.
#pragma once

#include <cstdint>
#include <vector>

namespace merro::testing::csp {

// Whether OpenSSL verifies the DER SignedData, with its content inside and
// its one signer's certificate in it, and that certificate as issued by the
// DER CA certificate. The content comes out in *pContent.
bool CmsVerifiesWithCa(const std::vector<std::uint8_t>& signedData,
                       const std::vector<std::uint8_t>& caCertificate,
                       std::vector<std::uint8_t>* pContent);

}  // namespace merro::testing::csp
