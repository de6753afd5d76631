#include "foundation/win/transaction_message.h"

#include <shlwapi.h>

#include <cstring>
#include <memory>
#include <new>

#include "foundation/misc/text_convert.h"
#include "foundation/trace/trace.h"
#include "foundation/win/win_resource.h"

#undef MR_TRACE_SOURCE
#define MR_TRACE_SOURCE "FunctionInterface"

namespace {

constexpr HRESULT kBadArgument = static_cast<HRESULT>(0x80070057);
constexpr HRESULT kNoMemory = static_cast<HRESULT>(0x8007000E);
constexpr HRESULT kDomFailure = static_cast<HRESULT>(0x800705B9);  // ERROR_XML_PARSE_ERROR
constexpr HRESULT kNotOfFormat = static_cast<HRESULT>(0x80090005);  // NTE_BAD_DATA
constexpr HRESULT kNotFound = static_cast<HRESULT>(0x80004005);

// MSXML's DOMDocument class and its IXMLDOMDocument interfaces.
const CLSID kClsidDomDocument = {
    0xF6D90F11, 0x9C73, 0x11D3, {0xB3, 0x2E, 0x00, 0xC0, 0x4F, 0x99, 0x0B, 0xB4}};
const IID kIidXmlDomDocument = {
    0x2933BF81, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};
const IID kIidXmlDomDocument2 = {
    0x2933BF95, 0x7B36, 0x11D2, {0xB2, 0x0E, 0x00, 0xC0, 0x4F, 0x98, 0x3E, 0x60}};

using merro::win::ComPtr;
using merro::win::ComScope;
using merro::win::UniqueBstr;

void Values(std::uint16_t number, std::initializer_list<merro::trace::Value> values) {
  merro::trace::TraceValues(merro::trace::kFunctionInterfaceMessageGuid, number, values);
}

// No external entity, no document type: a message is a plain document.
// (Not every parser honours ProhibitDTD; LoadXMLDom refuses one itself.)
void HardenParser(IXMLDOMDocument* pDoc) {
  pDoc->put_async(VARIANT_FALSE);
  pDoc->put_validateOnParse(VARIANT_FALSE);
  pDoc->put_resolveExternals(VARIANT_FALSE);
  ComPtr<IXMLDOMDocument2> doc2;
  if (SUCCEEDED(pDoc->QueryInterface(kIidXmlDomDocument2, reinterpret_cast<void**>(doc2.Put())))) {
    UniqueBstr name(::SysAllocString(L"ProhibitDTD"));
    VARIANT value;
    ::VariantInit(&value);
    value.vt = VT_BOOL;
    value.boolVal = VARIANT_TRUE;
    if (name.Get() != nullptr) {
      doc2->setProperty(name.Get(), value);
    }
  }
}

// Children of a node and their count.
HRESULT ChildList(const TraceHelper& mrTraceScope_, IXMLDOMNode* pNode,
                  ComPtr<IXMLDOMNodeList>* pList, long* plLength) {
  HRESULT hResult = pNode->get_childNodes(pList->Put());
  if (hResult != S_OK) {
    MR_LOG_FAIL(L"get_childNodes", L"hResult != S_OK", kDomFailure);
    return kDomFailure;
  }
  hResult = (*pList)->get_length(plLength);
  if (hResult != S_OK) {
    MR_LOG_FAIL(L"get_length", L"hResult != S_OK", kDomFailure);
    return kDomFailure;
  }
  return S_OK;
}

// Item i of a list and its name.
HRESULT ItemAndName(const TraceHelper& mrTraceScope_, IXMLDOMNodeList* pList, long i,
                    ComPtr<IXMLDOMNode>* pItem, UniqueBstr* pName, HRESULT* phItem,
                    HRESULT* phName) {
  *phItem = pList->get_item(i, pItem->Put());
  if (*phItem != S_OK) {
    MR_LOG_FAIL(L"get_item", L"hResult != S_OK", kDomFailure);
    return kDomFailure;
  }
  *phName = (*pItem)->get_nodeName(pName->Put());
  if (*phName != S_OK) {
    MR_LOG_FAIL(L"get_nodeName", L"hResult != S_OK", kDomFailure);
    return kDomFailure;
  }
  return S_OK;
}

// A child whose name holds wszName must exist; its absence is logged at step.
HRESULT RequireChild(const TraceHelper& mrTraceScope_, IXMLDOMNode* pNode, LPCWSTR wszName,
                     const wchar_t* step, ComPtr<IXMLDOMNode>* pChild) {
  const HRESULT hResult = FindChildNode(pNode, wszName, pChild->Put());
  if (FAILED(hResult)) {
    MR_LOG_FAIL(step, L"FAILED(hResult)", hResult);
  }
  return hResult;
}

// The checks on "D" or "E": at least dwMinimum children, each named exactly
// "M" and holding children named like "k" and "v".
struct MListTexts {
  const wchar_t* findStep;
  const wchar_t* lengthStep;
  const wchar_t* lengthReason;
  long lMinimum;
  std::uint16_t countRecord;  // then countRecord + 1 (index), + 2 (name, index)
};

HRESULT CheckMList(const TraceHelper& mrTraceScope_, IXMLDOMNode* pRoot, LPCWSTR wszName,
                   const MListTexts& t) {
  ComPtr<IXMLDOMNode> node;
  HRESULT hResult = RequireChild(mrTraceScope_, pRoot, wszName, t.findStep, &node);
  if (FAILED(hResult)) {
    return hResult;
  }
  ComPtr<IXMLDOMNodeList> list;
  long lChildListLength = 0;
  hResult = ChildList(mrTraceScope_, node.Get(), &list, &lChildListLength);
  if (hResult != S_OK) {
    return hResult;
  }
  Values(t.countRecord, {static_cast<DWORD>(lChildListLength)});
  if (lChildListLength < t.lMinimum) {
    MR_LOG_FAIL(t.lengthStep, t.lengthReason, kNotOfFormat);
    return kNotOfFormat;
  }
  for (long i = 0; i < lChildListLength; ++i) {
    Values(t.countRecord + 1, {static_cast<DWORD>(i)});
    ComPtr<IXMLDOMNode> child;
    UniqueBstr bstrNodeValue;
    HRESULT hItem = S_OK;
    HRESULT hName = S_OK;
    hResult = ItemAndName(mrTraceScope_, list.Get(), i, &child, &bstrNodeValue, &hItem, &hName);
    if (hResult != S_OK) {
      return hResult;
    }
    Values(t.countRecord + 2, {bstrNodeValue.Text(), static_cast<DWORD>(i)});
    if (std::wcscmp(bstrNodeValue.Text(), L"M") != 0) {
      MR_LOG_FAIL(L"Check QARN message 'M'", L"wcscmp(bstrNodeValue, L\"M\") != 0", kNotOfFormat);
      return kNotOfFormat;
    }
    ComPtr<IXMLDOMNode> part;
    hResult = RequireChild(mrTraceScope_, child.Get(), L"k", L"FindChildNode(K)", &part);
    if (FAILED(hResult)) {
      return hResult;
    }
    hResult = RequireChild(mrTraceScope_, child.Get(), L"v", L"FindChildNode(V)", &part);
    if (FAILED(hResult)) {
      return hResult;
    }
  }
  return S_OK;
}

}  // namespace

HRESULT LoadXMLDom(const BYTE* lpResData, DWORD dwResDataLen, IXMLDOMDocument** ppDoc) {
  MR_TRACE("LoadXMLDom");
  MR_FAIL_IF(lpResData == NULL, L"check parameter", kBadArgument);
  MR_FAIL_IF(ppDoc == NULL, L"check parameter", kBadArgument);
  Values(10, {dwResDataLen});

  ComPtr<IXMLDOMDocument> doc;
  HRESULT hResult = ::CoCreateInstance(kClsidDomDocument, nullptr, CLSCTX_INPROC_SERVER,
                                       kIidXmlDomDocument, reinterpret_cast<void**>(doc.Put()));
  if (hResult != S_OK) {
    hResult = merro::FoldWin32Error(hResult);
    MR_LOG_FAIL(L"CoCreateInstance", L"hResult != S_OK", hResult);
    return FAILED(hResult) ? hResult : kDomFailure;
  }
  Values(11, {});
  HardenParser(doc.Get());

  const size_t withEnd = static_cast<size_t>(dwResDataLen) + 1;
  std::unique_ptr<char[]> lpResDataWithEnd(new (std::nothrow) char[withEnd]());
  if (!lpResDataWithEnd) {
    MR_LOG_FAIL(L"new memory", L"lpResDataWithEnd == NULL", kNoMemory);
    return kNoMemory;
  }
  std::memcpy(lpResDataWithEnd.get(), lpResData, dwResDataLen);
  Values(12, {static_cast<DWORD>(withEnd)});

  UTF16CHAR* pwszText = nullptr;
  hResult = UTF8ToUTF16(lpResDataWithEnd.get(), &pwszText, nullptr);
  const std::unique_ptr<UTF16CHAR[]> text(pwszText);
  if (hResult != S_OK) {
    hResult = merro::FoldWin32Error(hResult);
    MR_LOG_FAIL(L"UTF8ToUTF16", L"hResult != S_OK", hResult);
    return hResult;
  }
  // Transaction messages have no document type: refusing one before the
  // parser sees it leaves no entity to expand or fetch, whatever the parser
  // makes of its own settings.
  if (std::wcsstr(text.get(), L"<!DOCTYPE") != nullptr) {
    MR_LOG_FAIL(L"loadXML(*ppDoc)", L"document type declaration", kDomFailure);
    return kDomFailure;
  }
  UniqueBstr bstrText(::SysAllocString(text.get()));
  if (bstrText.Get() == nullptr) {
    MR_LOG_FAIL(L"new memory", L"bstrText == NULL", kNoMemory);
    return kNoMemory;
  }
  VARIANT_BOOL bLoaded = VARIANT_FALSE;
  hResult = doc->loadXML(bstrText.Get(), &bLoaded);
  Values(13, {static_cast<DWORD>(hResult)});
  if (hResult != S_OK || bLoaded != VARIANT_TRUE) {
    MR_LOG_FAIL(L"loadXML(*ppDoc)", L"hResult != S_OK", kDomFailure);
    return kDomFailure;
  }
  Values(14, {});
  *ppDoc = doc.Detach();
  return S_OK;
}

HRESULT GetXMLRootNode(IXMLDOMDocument* pXMLDom, IXMLDOMNode** ppRoot) {
  MR_TRACE("GetXMLRootNode");
  MR_FAIL_IF(pXMLDom == NULL, L"check parameter.\n", kBadArgument);
  MR_FAIL_IF(ppRoot == NULL, L"check parameter.\n", kBadArgument);

  ComPtr<IXMLDOMNode> root;
  HRESULT hResult = pXMLDom->get_lastChild(root.Put());
  Values(15, {static_cast<DWORD>(hResult)});
  if (hResult != S_OK) {
    MR_LOG_FAIL(L"get_lastChild", L"hResult != S_OK", kDomFailure);
    return kDomFailure;
  }
  UniqueBstr name;
  hResult = root->get_nodeName(name.Put());
  Values(16, {static_cast<DWORD>(hResult)});
  if (hResult != S_OK) {
    MR_LOG_FAIL(L"get_nodeName", L"hResult != S_OK", kDomFailure);
    return kDomFailure;
  }
  Values(17, {name.Text()});
  *ppRoot = root.Detach();
  return S_OK;
}

HRESULT FindChildNode(IXMLDOMNode* pParentNode, LPCWSTR bstrChildNodeName, IXMLDOMNode** ppChild) {
  MR_TRACE("FindChildNode");
  MR_FAIL_IF(pParentNode == NULL||bstrChildNodeName==NULL, L"check parameter.", kBadArgument);
  MR_FAIL_IF(ppChild == NULL, L"check parameter.", kBadArgument);
  Values(18, {bstrChildNodeName});

  ComPtr<IXMLDOMNodeList> list;
  long lLength = 0;
  HRESULT hResult = pParentNode->get_childNodes(list.Put());
  Values(19, {static_cast<DWORD>(hResult)});
  if (hResult != S_OK) {
    MR_LOG_FAIL(L"get_childNodes", L"hResult != S_OK", kDomFailure);
    return kDomFailure;
  }
  hResult = list->get_length(&lLength);
  Values(20, {static_cast<DWORD>(hResult)});
  if (hResult != S_OK) {
    MR_LOG_FAIL(L"get_length", L"hResult != S_OK", kDomFailure);
    return kDomFailure;
  }
  Values(21, {static_cast<DWORD>(lLength)});
  for (long i = 0; i < lLength; ++i) {
    Values(22, {static_cast<DWORD>(i)});
    ComPtr<IXMLDOMNode> node;
    UniqueBstr name;
    HRESULT hItem = S_OK;
    HRESULT hName = S_OK;
    hResult = ItemAndName(mrTraceScope_, list.Get(), i, &node, &name, &hItem, &hName);
    Values(23, {static_cast<DWORD>(hItem)});
    if (hItem == S_OK) {
      Values(24, {static_cast<DWORD>(hName)});
    }
    if (hResult != S_OK) {
      return hResult;
    }
    Values(25, {name.Text(), static_cast<DWORD>(i)});
    if (::StrStrIW(name.Text(), bstrChildNodeName) != nullptr) {
      Values(26, {bstrChildNodeName});
      *ppChild = node.Detach();
      return S_OK;
    }
  }
  return kNotFound;
}

HRESULT CheckIsQARNMessage(IXMLDOMDocument* pXMLDom) {
  MR_TRACE("CheckIsQARNMessage");
  MR_FAIL_IF(pXMLDom == NULL, L"Check pXMLDom", kBadArgument);

  ComPtr<IXMLDOMNode> root;
  HRESULT hResult = GetXMLRootNode(pXMLDom, root.Put());
  if (FAILED(hResult)) {
    MR_LOG_FAIL(L"GetXMLRootNode", L"FAILED(hResult)", hResult);
    return hResult;
  }
  const MListTexts d{L"FindChildNode(D)", L"Check 'D' length >= 3", L"lChildListLength < 4", 4, 27};
  hResult = CheckMList(mrTraceScope_, root.Get(), L"D", d);
  if (hResult != S_OK) {
    return hResult;
  }
  const MListTexts e{L"FindChildNode(E)", L"Check 'E' length >= 5", L"lChildListLength < 1", 1, 30};
  return CheckMList(mrTraceScope_, root.Get(), L"E", e);
}

HRESULT CheckIsTAVRMessage(IXMLDOMDocument* pXMLDom) {
  MR_TRACE("CheckIsTAVRMessage");
  MR_FAIL_IF(pXMLDom == NULL, L"Check pXMLDom", kBadArgument);

  ComPtr<IXMLDOMNode> root;
  HRESULT hResult = GetXMLRootNode(pXMLDom, root.Put());
  if (FAILED(hResult)) {
    MR_LOG_FAIL(L"GetXMLRootNode", L"FAILED(hResult)", hResult);
    return hResult;
  }
  UniqueBstr bstrNodeValue;
  if (root->get_nodeName(bstrNodeValue.Put()) != S_OK) {
    MR_LOG_FAIL(L"get_nodeName", L"hResult != S_OK", kDomFailure);
    return kDomFailure;
  }
  Values(33, {bstrNodeValue.Text()});
  if (std::wcscmp(bstrNodeValue.Text(), L"SignData") != 0) {
    MR_LOG_FAIL(L"Check TAVR message 'SignData'", L"wcscmp(bstrNodeValue, L\"SignData\") != 0",
                kNotOfFormat);
    return kNotOfFormat;
  }
  ComPtr<IXMLDOMNode> child;
  hResult = RequireChild(mrTraceScope_, root.Get(), L"KeyType", L"FindChildNode(KeyType)", &child);
  if (FAILED(hResult)) {
    return hResult;
  }
  return RequireChild(mrTraceScope_, root.Get(), L"Fields", L"FindChildNode(Fields)", &child);
}

HRESULT CheckIsTransactionMessage(DWORD dwMessageType, const BYTE* pbyMessage, DWORD dwMessageLen) {
  constexpr const char* kFunction = "CheckIsTransactionMessage";
  const auto fail = [kFunction](int line, const wchar_t* step, const wchar_t* reason, HRESULT hr) {
    merro::trace::LogFailure(MR_TRACE_SOURCE, line, kFunction, step, reason, hr);
    return hr;
  };
  if (pbyMessage == nullptr) {
    return fail(__LINE__, L"Check pbyMessage", L"pbyMessage == NULL", kBadArgument);
  }
  if (dwMessageLen == 0) {
    return fail(__LINE__, L"Check dwMessageLen", L"dwMessageLen <= 0", kBadArgument);
  }
  Values(34, {dwMessageType, dwMessageLen});

  // Declared first, so that it ends after every COM object below is released.
  const ComScope com;
  if (!com.Usable()) {
    return fail(__LINE__, L"CoInitializeEx", L"FAILED(hResult)", com.Result());
  }
  ComPtr<IXMLDOMDocument> doc;
  HRESULT hResult = LoadXMLDom(pbyMessage, dwMessageLen, doc.Put());
  if (FAILED(hResult)) {
    return fail(__LINE__, L"LoadXMLDom", L"FAILED(hResult)", hResult);
  }
  if (dwMessageType == MR_MESSAGE_TYPE_QARN) {
    hResult = CheckIsQARNMessage(doc.Get());
    if (hResult != S_OK) {
      return fail(__LINE__, L"CheckIsQARNMessage", L"hResult != S_OK",
                  merro::FoldWin32Error(hResult));
    }
  } else if (dwMessageType == MR_MESSAGE_TYPE_TAVR) {
    hResult = CheckIsTAVRMessage(doc.Get());
    if (hResult != S_OK) {
      return fail(__LINE__, L"CheckIsTAVRMessage", L"hResult != S_OK",
                  merro::FoldWin32Error(hResult));
    }
  } else {
    return fail(__LINE__, L"Not support messageType", L"TRUE", kNotFound);
  }
  return S_OK;
}
