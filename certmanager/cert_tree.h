// The main dialog's certificate tree: the item data that says what an item
// stands for, the image list, and the rebuilding of the whole tree from the
// token list (root, one item per token, one per certificate).
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>

#include "certmanager/MerroCommonFiles/cert_text.h"
#include "provider/container_information.h"

namespace merro::certmanager {

// Item data: the kind (TreeItemKindValue, cert_text.h) in bits 0-3, the
// container's index in its token's list in bits 4-15, the token's index in
// the token list in bits 16-31.
inline constexpr DWORD kNoTreeItem = 0xFFFFFFFF;  // nothing clicked yet

constexpr DWORD MakeTreeItemData(DWORD kind, DWORD containerIndex, DWORD tokenIndex) {
  return (kind & 0xF) | ((containerIndex & 0xFFF) << 4) | (tokenIndex << 16);
}
constexpr DWORD TreeItemKind(DWORD data) { return data & 0xF; }
constexpr DWORD TreeItemContainer(DWORD data) { return (data >> 4) & 0xFFF; }
constexpr DWORD TreeItemToken(DWORD data) { return data >> 16; }

// Images of the tree's image list, by index.
inline constexpr int kImageRsaCert = 0;  // bitmap 138
inline constexpr int kImageSm2Cert = 1;  // bitmap 139
inline constexpr int kImageToken = 2;    // bitmap 137
inline constexpr int kImageRoot = 3;     // bitmap 152

// A new image list (24 x 24, 32-bit colour, growing by 8) with the four tree
// bitmaps in image order; null when it cannot be made.
HIMAGELIST CreateTreeImageList();

// Fills a certificate item of the container: the description text (kept in
// *pText, which must outlive the insertion), the image of the container's
// algorithm and the item data. Fails as GetTreeItemDesc does.
HRESULT InitializeViewTreeItem(const merro::provider::ContainerInformation& container,
                               TVINSERTSTRUCTW* pInsert, DWORD dwKind, DWORD dwItemData,
                               std::wstring* pText);

// Deletes every item and builds the tree again: the root ("No device", or
// "<n> Device(s)"), each token's label, and under it each container's
// signature and then exchange certificate; every item expanded. A
// certificate whose description cannot be made is left out (and logged),
// and the building goes on with the next one. *pSkipped (optional) counts
// the certificates left out.
HRESULT InitializeDisplayCertTree(HWND hTree, const merro::provider::TokenInformationList& tokens,
                                  DWORD* pSkipped = nullptr);

}  // namespace merro::certmanager
