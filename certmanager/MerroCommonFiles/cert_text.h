// Texts about certificates for the manager's tree: the subject, the holder's
// name part, the key-usage bits and the description of a container's
// certificate ("RSA-2048 Encrypt Certificate(CN=Zhang San 01, Probe Bank)").
#pragma once

#include <windows.h>
#include <wincrypt.h>

#include <string>

#include "provider/container_information.h"

// What an item of the manager's certificate tree stands for: the root, a
// token, or one of the two certificate slots of a container.
enum TreeItemKindValue : DWORD {
  kTreeItemRoot = 0,
  kTreeItemToken = 1,
  kTreeItemSignatureCert = 2,
  kTreeItemExchangeCert = 3,
};

// A description fits a 260-character buffer with its terminator.
inline constexpr size_t kTreeItemDescMaxChars = 259;

// The subject rendered by CertNameToStrW with dwStrType (X.509 and PKCS #7
// encodings). A certificate whose subject renders empty fails with
// CRYPT_E_NOT_FOUND.
HRESULT GetCertSubject(PCCERT_CONTEXT pCert, DWORD dwStrType, std::wstring* pSubject);

// From a simple, reversed subject ("Zhang San 01, Probe Bank, CN"): the text
// before the first ", CN" as "(CN=Zhang San 01, Probe Bank)", or an empty
// text when there is no ", CN". At most 259 characters.
void GetCNFromSubject(const std::wstring& subject, std::wstring* pNamePart);

// The first byte of the certificate's key-usage extension (0x80 digital
// signature, 0x20 key encipherment, ...); CRYPT_E_NOT_FOUND without one. An
// extension that sets no bit gives 0.
HRESULT GetCertKeyUsage(PCCERT_CONTEXT pCert, BYTE* pbyKeyUsage);

// The description of the container's signature (kind 2) or exchange (kind 3)
// certificate: the string-table text for its algorithm, key length and use,
// followed by the name part. An RSA length other than 1024, 2048 or 4096
// gives 0x80090020; another kind or a missing certificate 0x80070057.
HRESULT GetTreeItemDesc(const merro::provider::ContainerInformation& container, DWORD dwKind,
                        std::wstring* pDescription);
