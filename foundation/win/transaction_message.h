// Recognition of the XML transaction messages that are signed with the
// token's display and button confirmation. Only the structure and the names
// of a message are checked, never its values.
//
// Result codes: 0 the check passed; 0x80070057 a missing argument;
// 0x8007000E memory; 0x800705B9 a DOM call did not return S_OK (XML that does
// not parse included); 0x80090005 the document is not of the format;
// 0x80004005 a child that is not found, or an unsupported message type.
#pragma once

#include <windows.h>
#include <objbase.h>
#include <msxml2.h>

// Message types (the provider setting dwMessageType).
constexpr DWORD MR_MESSAGE_TYPE_QARN = 1;
constexpr DWORD MR_MESSAGE_TYPE_TAVR = 2;

// Parses UTF-8 text (dwResDataLen octets; a zero octet ends it early) into a
// new DOM document. External entities are never resolved and no document
// type declaration is accepted. COM must be initialised on the thread. The
// document is handed out only on success; the caller releases it.
HRESULT LoadXMLDom(const BYTE* lpResData, DWORD dwResDataLen, IXMLDOMDocument** ppDoc);

// The document's last child node, the root of both formats.
HRESULT GetXMLRootNode(IXMLDOMDocument* pXMLDom, IXMLDOMNode** ppRoot);

// The first child node (text and comment nodes included) whose name holds
// bstrChildNodeName, ignoring case; 0x80004005 when there is none.
HRESULT FindChildNode(IXMLDOMNode* pParentNode, LPCWSTR bstrChildNodeName,
                      IXMLDOMNode** ppChild);

// The QARN shape: root children "D" (at least 4 children) and "E" (at least
// 1), whose children are all named "M" with children "k" and "v".
HRESULT CheckIsQARNMessage(IXMLDOMDocument* pXMLDom);

// The TAVR shape: root "SignData" with children "KeyType" and "Fields".
HRESULT CheckIsTAVRMessage(IXMLDOMDocument* pXMLDom);

// 0 when the message is a transaction message of the given type. Works on
// any thread: COM is initialised for the duration of the check.
HRESULT CheckIsTransactionMessage(DWORD dwMessageType, const BYTE* pbyMessage, DWORD dwMessageLen);
