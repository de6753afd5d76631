#include "certmanager/cert_tree.h"

#include <cwchar>

#include "certmanager_resource_ids.h"
#include "certmanager_string_ids.h"
#include "foundation/misc/text_convert.h"
#include "foundation/result.h"
#include "foundation/trace/trace.h"
#include "foundation/win/this_module.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "MainDlg"

namespace merro::certmanager {
namespace {

constexpr int kImageSize = 24;
constexpr int kImageGrowth = 8;
// The background colour of the tree bitmaps: the image list masks it out,
// so the tree's own background shows around each picture.
constexpr COLORREF kImageMaskColour = RGB(0xFF, 0x00, 0xFF);

HTREEITEM InsertItem(HWND hTree, TVINSERTSTRUCTW* pInsert) {
  return reinterpret_cast<HTREEITEM>(
      ::SendMessageW(hTree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(pInsert)));
}

TVINSERTSTRUCTW ItemUnder(HTREEITEM hParent, LPWSTR text, int image, DWORD data) {
  TVINSERTSTRUCTW insert{};
  insert.hParent = hParent;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE | TVIF_PARAM;
  insert.item.pszText = text;
  insert.item.iImage = image;
  insert.item.iSelectedImage = image;
  insert.item.lParam = static_cast<LPARAM>(data);
  return insert;
}

std::wstring RootText(size_t tokenCount) {
  if (tokenCount == 0) {
    return merro::win::LoadThisModuleString(IDS_NO_DEVICE);
  }
  return std::to_wstring(tokenCount) + L" " + merro::win::LoadThisModuleString(IDS_DEVICES);
}

}  // namespace

HIMAGELIST CreateTreeImageList() {
  MR_TRACE("CreateTreeImageList");
  HIMAGELIST hList =
      ::ImageList_Create(kImageSize, kImageSize, ILC_COLOR24 | ILC_MASK, 0, kImageGrowth);
  if (hList == nullptr) {
    MR_LOG_FAIL(L"ImageList_Create", L"hImageList == NULL", E_OUTOFMEMORY);
    return nullptr;
  }
  for (const UINT id : {IDB_TREE_RSA_CERT, IDB_TREE_SM2_CERT, IDB_TREE_TOKEN, IDB_TREE_ROOT}) {
    HBITMAP hBitmap = static_cast<HBITMAP>(::LoadImageW(
        merro::win::ThisModule(), MAKEINTRESOURCEW(id), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
    // A missing picture would shift the images after it: the list is no use.
    if (hBitmap == nullptr || ::ImageList_AddMasked(hList, hBitmap, kImageMaskColour) < 0) {
      MR_LOG_FAIL(L"LoadImageW", L"hBitmap == NULL", merro::LastErrorResult());
      if (hBitmap != nullptr) {
        ::DeleteObject(hBitmap);
      }
      ::ImageList_Destroy(hList);
      return nullptr;
    }
    ::DeleteObject(hBitmap);
  }
  return hList;
}

HRESULT InitializeViewTreeItem(const merro::provider::ContainerInformation& container,
                               TVINSERTSTRUCTW* pInsert, DWORD dwKind, DWORD dwItemData,
                               std::wstring* pText) {
  MR_TRACE("InitializeViewTreeItem");
  MR_FAIL_IF(pInsert == nullptr || pText == nullptr, L"Check parameters", E_INVALIDARG);
  const HRESULT hr = GetTreeItemDesc(container, dwKind, pText);
  if (FAILED(hr)) {
    MR_LOG_FAIL(L"GetTreeItemDesc", L"S_OK != hResult", hr);
    return hr;
  }
  const int image = container.dwKeySetAlgorithm == KEYSETALGORITHM_SM2
                        ? kImageSm2Cert
                        : kImageRsaCert;
  *pInsert = ItemUnder(pInsert->hParent, pText->data(), image,
                       MakeTreeItemData(dwKind, TreeItemContainer(dwItemData), TreeItemToken(dwItemData)));
  return S_OK;
}

HRESULT InitializeDisplayCertTree(HWND hTree, const merro::provider::TokenInformationList& tokens,
                                  DWORD* pSkipped) {
  MR_TRACE("CMainDlg::InitializeDisplayCertTree");
  MR_FAIL_IF(hTree == nullptr, L"Check tree", E_INVALIDARG);
  DWORD skipped = 0;
  ::SendMessageW(hTree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));

  std::wstring rootText = RootText(tokens.size());
  TVINSERTSTRUCTW rootInsert = ItemUnder(TVI_ROOT, rootText.data(), kImageRoot,
                                         MakeTreeItemData(kTreeItemRoot, 0, 0));
  HTREEITEM hRoot = InsertItem(hTree, &rootInsert);
  MR_FAIL_IF(hRoot == nullptr, L"Insert root", E_FAIL);

  for (size_t t = 0; t < tokens.size(); ++t) {
    const merro::provider::TokenInformation& token = tokens[t];
    std::wstring label;
    UTF8ToUTF16Text(token.strTokenLabel.c_str(), &label);
    TVINSERTSTRUCTW tokenInsert = ItemUnder(hRoot, label.data(), kImageToken,
                                            MakeTreeItemData(kTreeItemToken, 0, static_cast<DWORD>(t)));
    HTREEITEM hToken = InsertItem(hTree, &tokenInsert);
    if (hToken == nullptr) {
      MR_LOG_FAIL(L"Insert token", L"hTokenItem == NULL", E_FAIL);
      continue;
    }
    for (size_t c = 0; c < token.vecContainers.size(); ++c) {
      const merro::provider::ContainerInformation& container = token.vecContainers[c];
      const DWORD containerData =
          MakeTreeItemData(0, static_cast<DWORD>(c), static_cast<DWORD>(t));
      for (const DWORD kind : {kTreeItemSignatureCert, kTreeItemExchangeCert}) {
        const bool present = kind == kTreeItemSignatureCert ? static_cast<bool>(container.signatureCert)
                                                            : static_cast<bool>(container.exchangeCert);
        if (!present) {
          continue;
        }
        TVINSERTSTRUCTW certInsert{};
        certInsert.hParent = hToken;
        std::wstring text;
        const HRESULT hr = InitializeViewTreeItem(container, &certInsert, kind, containerData, &text);
        if (FAILED(hr)) {
          // One unreadable certificate must not hide the ones after it (the
          // store already holds them all).
          MR_LOG_FAIL(kind == kTreeItemSignatureCert ? L"InitializeViewTreeItem sign"
                                                     : L"InitializeViewTreeItem exchange",
                      L"S_OK != hResult", hr);
          ++skipped;
          continue;
        }
        InsertItem(hTree, &certInsert);
      }
    }
    ::SendMessageW(hTree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(hToken));
  }
  ::SendMessageW(hTree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(hRoot));
  if (pSkipped != nullptr) {
    *pSkipped = skipped;
  }
  return S_OK;
}

}  // namespace merro::certmanager
