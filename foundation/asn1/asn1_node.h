// The ASN.1 engine: decoding BER/DER tag-length-value encodings from memory
// or from a stream into a tree of ASN1Node records (without copying
// content), encoding a tree back into one buffer, and building single DER
// values.
//
// Decoder rules:
// - The identifier is one octet; high tag numbers are not decoded.
// - Tags 0x00-0x1F and 0x80-0x8F are leaves. Every other tag (the
//   constructed universal tags, all application and private tags, context
//   tags [16] and up and every constructed context tag) is read as a
//   sequence of child elements.
// - At most 4 length octets; every element must lie within its parent's
//   content (or within the source for the root). An indefinite length is
//   closed by 00 00: for a leaf the content is scanned for the pair, for a
//   constructed element the pair is looked for after each child. An
//   indefinite constructed element can be decoded only from memory.
// - At most MAX_ASN1_NODE_COUNT nodes in one tree; this also bounds the
//   nesting depth.
// - A memory block must hold at least three octets.
// Decoders return 0 or -1; on -1 the thread's last error says why
// (ERROR_INVALID_PARAMETER, ERROR_INVALID_DATA or ERROR_NOT_ENOUGH_MEMORY),
// so that HRESULT_FROM_TOKEN_ERROR(-1) never folds into success, and no tree
// is handed out.
//
// Buffers handed out by the encoders are allocated with array new and
// released by the caller with array delete.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <vector>

#include "foundation/platform.h"

// Largest encoding EncodeASN1ToMemory makes, in octets.
constexpr DWORD MAX_ASN1_DATA_MEMORY_SIZE = 52428800;
// Most nodes in one decoded tree.
constexpr DWORD MAX_ASN1_NODE_COUNT = 255;
// Most nodes one EncodeASN1ToMemory run visits when given a counter, and the
// deepest tree it encodes.
constexpr DWORD MAX_ASN1_ENCODE_NODE_COUNT = 256;
// Content and total length of an indefinite length not measured yet.
constexpr DWORD ASN1_LENGTH_UNMEASURED = 0xFFFFFFFF;

// One tag-length-value element. A node owns its children.
struct ASN1Node {
  FILE* m_pFile = nullptr;               // stream source, or null
  const BYTE* m_pbyMemory = nullptr;     // memory source, or null
  std::uint64_t m_ullContentOffset = 0;  // first content octet, from the source's start
  BYTE m_byTag = 0;                      // the identifier octet
  DWORD m_dwLengthOctets = 0;            // 1 (short or indefinite form) or 1 + n
  DWORD m_dwContentLength = 0;           // content octets (end-of-contents included)
  DWORD m_dwDataLength = 0;              // built trees: own data, or the children's encodings
  const BYTE* m_pbyData = nullptr;       // built leaves: content to encode (not owned)
  DWORD m_dwTotalLength = 0;             // 1 + m_dwLengthOctets + m_dwContentLength
  DWORD m_dwSourceLimit = 0;             // size of the source (memory or stream), in octets
  WORD m_wIndefinite = 0;                // 1 while an indefinite length is unmeasured
  ASN1Node* m_pParent = nullptr;
  std::vector<std::unique_ptr<ASN1Node>> m_vtrChildren;
};

// What a header read yields.
struct ASN1Header {
  BYTE byTag = 0;
  DWORD dwLengthOctets = 0;
  DWORD dwContentLength = 0;
  std::uint64_t ullContentOffset = 0;
  WORD wIndefinite = 0;
  std::uint64_t ullLastOctet = 0;  // last content octet, or 0xFFFFFFFF when indefinite
};

// Decoders.
int DecodeASN1FromMemory(const BYTE* pbyData, int nDataSize, std::unique_ptr<ASN1Node>* ppRoot);
int DecodeASN1FromFile(FILE* pFile, std::unique_ptr<ASN1Node>* ppRoot);
int DecodeASN1Node(ASN1Node* pNode, DWORD* pdwNodeCount);
// Reads the header at ullPosition; nothing at or beyond ullEndBound is read,
// and the element must end by it. Exactly one of the two sources is given.
int ReadASN1Header(const BYTE* pbyMemory, FILE* pFile, std::uint64_t ullPosition,
                   std::uint64_t ullEndBound, ASN1Header* pHeader);
// Reads the length octets that start at ullPosition (the tag is just before).
int ReadASN1Length(const BYTE* pbyMemory, FILE* pFile, std::uint64_t ullPosition,
                   std::uint64_t ullEndBound, ASN1Header* pHeader);
// Measures an unmeasured indefinite leaf by scanning its source for 00 00.
int FindASN1IndefiniteEnd(ASN1Node* pNode);

// Encoders.
// DER length octets of llLength: their count, or -1 for a negative length or
// when the buffer cannot be allocated. With ppbyLengthOctets a new buffer
// with the octets is handed out.
int EncodeASN1Length(std::int64_t llLength, BYTE** ppbyLengthOctets);
// One element: tag, DER length octets, content.
HRESULT ASN1Encode(BYTE byTag, const BYTE* pbyContent, int nContentLength, BYTE** ppbyEncodedData,
                   DWORD* pdwEncodedDataLen);
// Appends a complete child (a null child is ignored) and adds its encoding
// to the parent's content and data lengths; build trees bottom-up.
void AddASN1Child(ASN1Node* pParent, std::unique_ptr<ASN1Node> child);
// 1 + length octets of the content length + the content length.
std::uint64_t GetASN1EncodedSize(const ASN1Node* pNode);
// 1 + length octets of the content length + the data length.
std::uint64_t GetASN1RequiredSize(const ASN1Node* pNode);
// Encodes a tree into one new buffer. *ppEncodedData must be null; on success
// it receives the buffer and *pnEncodedDataSize its length. Each node's
// length octets state exactly the content written for it. With a counter,
// it is raised by one for every node and the run fails above 256.
HRESULT EncodeASN1ToMemory(const ASN1Node* pNode, BYTE** ppEncodedData, DWORD* pnEncodedDataSize,
                           DWORD* pnRecursiveCount);
