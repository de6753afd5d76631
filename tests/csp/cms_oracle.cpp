#include "tests/csp/cms_oracle.h"

#include <openssl/bio.h>
#include <openssl/cms.h>
#include <openssl/err.h>
#include <openssl/x509.h>

#include <cstdio>
#include <memory>

namespace merro::testing::csp {
namespace {

template <class T, void (*F)(T*)>
struct Free {
  void operator()(T* p) const { F(p); }
};
using BioPtr = std::unique_ptr<BIO, Free<BIO, BIO_free_all>>;
using CmsPtr = std::unique_ptr<CMS_ContentInfo, Free<CMS_ContentInfo, CMS_ContentInfo_free>>;
using X509Ptr = std::unique_ptr<X509, Free<X509, X509_free>>;

}  // namespace

bool CmsVerifiesWithCa(const std::vector<std::uint8_t>& signedData,
                       const std::vector<std::uint8_t>& caCertificate,
                       std::vector<std::uint8_t>* pContent) {
  BioPtr in(BIO_new_mem_buf(signedData.data(), static_cast<int>(signedData.size())));
  CmsPtr cms(in ? d2i_CMS_bio(in.get(), nullptr) : nullptr);
  const unsigned char* p = caCertificate.data();
  X509Ptr ca(d2i_X509(nullptr, &p, static_cast<long>(caCertificate.size())));
  BioPtr out(BIO_new(BIO_s_mem()));
  if (!cms || !ca || !out) {
    return false;
  }
  // The signature over the content under the signer's certificate in the
  // message; the test CA carries no CA extensions, which OpenSSL's chain
  // check would want, so the issuer's signature on that certificate is
  // checked on its own.
  if (CMS_verify(cms.get(), nullptr, nullptr, nullptr, out.get(), CMS_NO_SIGNER_CERT_VERIFY) != 1) {
    ERR_print_errors_fp(stderr);
    return false;
  }
  STACK_OF(X509)* signers = CMS_get0_signers(cms.get());
  const bool issued = signers != nullptr && sk_X509_num(signers) == 1 &&
                      X509_NAME_cmp(X509_get_issuer_name(sk_X509_value(signers, 0)),
                                    X509_get_subject_name(ca.get())) == 0 &&
                      X509_verify(sk_X509_value(signers, 0), X509_get0_pubkey(ca.get())) == 1;
  sk_X509_free(signers);
  if (!issued) {
    return false;
  }
  const unsigned char* data = nullptr;
  const long length = BIO_get_mem_data(out.get(), &data);
  pContent->assign(data, data + length);
  return true;
}

}  // namespace merro::testing::csp
