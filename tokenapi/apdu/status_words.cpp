#include "tokenapi/apdu/status_words.h"

namespace merro::apdu {
namespace {

struct StatusWordRow {
  WORD sw;
  WORD mask;  // bits of sw that identify the row
  const wchar_t* text;
};

constexpr StatusWordRow kStatusWords[] = {
    {0x9000, 0xFFFF, L"success"},
    {0x6100, 0xFF00, L"more data available"},
    {0x6283, 0xFFFF, L"selected file invalidated"},
    {0x6285, 0xFFFF, L"selected file in termination state"},
    {0x63C0, 0xFFF0, L"wrong PIN, tries left in the low nibble"},
    {0x6700, 0xFFFF, L"wrong length"},
    {0x6981, 0xFFFF, L"command incompatible with file structure"},
    {0x6982, 0xFFFF, L"security status not satisfied"},
    {0x6983, 0xFFFF, L"authentication method blocked"},
    {0x6985, 0xFFFF, L"conditions of use not satisfied"},
    {0x6986, 0xFFFF, L"command not allowed, no current file"},
    {0x6A80, 0xFFFF, L"incorrect data"},
    {0x6A82, 0xFFFF, L"file not found"},
    {0x6A83, 0xFFFF, L"record not found"},
    {0x6A84, 0xFFFF, L"not enough memory"},
    {0x6A86, 0xFFFF, L"incorrect P1 P2"},
    {0x6A89, 0xFFFF, L"file already exists"},
    {0x6B00, 0xFFFF, L"offset beyond the file"},
    {0x6D00, 0xFFFF, L"instruction not supported"},
    {0x6E00, 0xFFFF, L"class not supported"},
    {0x6F00, 0xFFFF, L"no precise diagnosis"},
    {0xFF05, 0xFFFF, L"display confirmation pending"},
    {0xFF06, 0xFFFF, L"cancelled by the user on the token"},
    {0xFF07, 0xFFFF, L"display confirmation timed out"},
};

}  // namespace

const wchar_t* StatusWordText(WORD sw) {
  for (const StatusWordRow& row : kStatusWords) {
    if ((sw & row.mask) == row.sw) {
      return row.text;
    }
  }
  return L"unknown status word";
}

}  // namespace merro::apdu
