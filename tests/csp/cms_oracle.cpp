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
using StorePtr = std::unique_ptr<X509_STORE, Free<X509_STORE, X509_STORE_free>>;

}  // namespace

bool CmsVerifiesWithCa(const std::vector<std::uint8_t>& signedData,
                       const std::vector<std::uint8_t>& caCertificate,
                       std::vector<std::uint8_t>* pContent) {
  BioPtr in(BIO_new_mem_buf(signedData.data(), static_cast<int>(signedData.size())));
  CmsPtr cms(in ? d2i_CMS_bio(in.get(), nullptr) : nullptr);
  const unsigned char* p = caCertificate.data();
  X509Ptr ca(d2i_X509(nullptr, &p, static_cast<long>(caCertificate.size())));
  StorePtr store(X509_STORE_new());
  BioPtr out(BIO_new(BIO_s_mem()));
  if (!cms || !ca || !store || !out || X509_STORE_add_cert(store.get(), ca.get()) != 1) {
    return false;
  }
  if (CMS_verify(cms.get(), nullptr, store.get(), nullptr, out.get(), 0) != 1) {
    ERR_print_errors_fp(stderr);
    return false;
  }
  const unsigned char* data = nullptr;
  const long length = BIO_get_mem_data(out.get(), &data);
  pContent->assign(data, data + length);
  return true;
}

}  // namespace merro::testing::csp
