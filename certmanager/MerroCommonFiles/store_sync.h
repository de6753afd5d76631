// Keeping the current user's "MY" store in step with the certificates on the
// inserted tokens: every token certificate is an entry of this provider that
// names its container, entries of vanished containers go, and at exit all of
// this provider's entries go. All store work goes through the provider's
// store module (provider/cert_store.h).
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>
#include <vector>

#include "provider/cert_store.h"
#include "provider/container_information.h"

// The whole synchronisation after the token list was refilled: removes the
// entries of this provider that no token container holds, then adds every
// token certificate the store lacks (SM2 ones only with the marker file).
// S_OK or the first failure.
HRESULT SYNContainer2Browser(const merro::provider::TokenInformationList& tokens);

// The current user's entries whose provider name begins with
// wszProviderName, appended to *pList.
HRESULT GetAllSpecifiedCertFromBrowser(const wchar_t* wszProviderName, merro::provider::CertContextList* pList);

// The provider and container names of an entry's key-provider property (each
// optional, names of any length); a certificate without it fails.
HRESULT GetMSCertProviderAndContainerName(PCCERT_CONTEXT pCert, std::wstring* pProviderName,
                                          std::wstring* pContainerName);

// Removes each listed entry that no token container holds. S_OK or the
// first failure.
HRESULT DeleteAllInvalidCertFromBrowser(const merro::provider::CertContextList& list,
                                        const merro::provider::TokenInformationList& tokens);

// TRUE when a container of that name on a token holds this certificate (the
// same encoded bytes) as its signature or exchange certificate.
BOOL CheckMSCertInContainerSet(PCCERT_CONTEXT pCert, const wchar_t* wszContainerName,
                               const merro::provider::TokenInformationList& tokens);

// Adds every token certificate whose serial number no listed entry has, in
// token and container order, signature certificate first. An SM2 container
// is passed over without the marker file. S_OK, 0x80070057 for a missing
// provider name, or the first failure.
HRESULT AddAllIdleCertToBrowser(const wchar_t* wszProviderName, const merro::provider::TokenInformationList& tokens,
                                const merro::provider::CertContextList& list);

// TRUE when a listed certificate has exactly this serial number.
BOOL CheckContainerCertInBrowser(const merro::provider::CertContextList& list, const BYTE* pbSerial, DWORD cbSerial);

// The certificate's serial number as CryptoAPI keeps it (least significant
// byte first).
HRESULT GetCertSerialNumber(PCCERT_CONTEXT pCert, std::vector<BYTE>* pSerial);

// Writes the certificate as an entry of the provider for the container (the
// current user's store, or the machine's with bMachine).
HRESULT ImportCertToBrowser(PCCERT_CONTEXT pCert, const wchar_t* wszContainerName, BOOL bMachine,
                            DWORD dwKeySpec, const wchar_t* wszProviderName);

// Deletes the store's first certificate with the same encoded bytes; S_OK
// also when there is none.
HRESULT RemoveCertFromBrowser(PCCERT_CONTEXT pCert, BOOL bMachine);

// Removes every entry of the current user's store whose provider name
// begins with wszProviderName, stopping at the first failure.
HRESULT RemoveAllSpecifiedCertfromBrowser(const wchar_t* wszProviderName);
