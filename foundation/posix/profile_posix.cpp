// Private-profile (INI) reading for POSIX hosts, following the Windows
// reader: case-insensitive section and key names, values trimmed and
// stripped of one pair of enclosing quotes, the first matching entry wins.
#include "foundation/platform.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <fstream>
#include <optional>
#include <vector>

namespace {

std::string Trim(const std::string& s) {
  const auto notSpace = [](unsigned char c) { return !std::isspace(c); };
  const auto b = std::find_if(s.begin(), s.end(), notSpace);
  const auto e = std::find_if(s.rbegin(), s.rend(), notSpace).base();
  return b < e ? std::string(b, e) : std::string();
}

bool EqualNoCase(const std::string& a, const char* b) {
  const size_t n = std::strlen(b);
  if (a.size() != n) {
    return false;
  }
  for (size_t i = 0; i < n; ++i) {
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i]))) {
      return false;
    }
  }
  return true;
}

std::string Unquote(const std::string& v) {
  if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front()) {
    return v.substr(1, v.size() - 2);
  }
  return v;
}

struct Entry {
  std::string section;
  std::string key;
  std::string value;
};

std::optional<std::vector<Entry>> Parse(const char* fileName) {
  std::ifstream in(fileName);
  if (!in) {
    return std::nullopt;
  }
  std::vector<Entry> entries;
  std::string section;
  bool inSection = false;
  std::string line;
  while (std::getline(in, line)) {
    const std::string t = Trim(line);
    if (t.empty() || t[0] == ';') {
      continue;
    }
    if (t[0] == '[') {
      const size_t close = t.find(']');
      section = Trim(t.substr(1, close == std::string::npos ? std::string::npos : close - 1));
      inSection = true;
      continue;
    }
    if (!inSection) {
      continue;
    }
    const size_t eq = t.find('=');
    Entry e{section, Trim(t.substr(0, eq)), std::string()};
    if (eq != std::string::npos) {
      e.value = Unquote(Trim(t.substr(eq + 1)));
    }
    entries.push_back(std::move(e));
  }
  return entries;
}

// Copies a list of names, each ended by a zero, the list by a second zero,
// truncating as the Windows reader does (the result ends in two zeros).
DWORD CopyList(const std::vector<std::string>& names, LPSTR out, DWORD nSize) {
  if (nSize < 2) {
    if (nSize == 1) {
      out[0] = '\0';
    }
    return 0;
  }
  DWORD used = 0;
  for (const std::string& n : names) {
    if (used + n.size() + 1 > nSize - 1) {
      // The names so far may already fill all but the last octet: then
      // nothing of this one fits.
      const DWORD room = used < nSize - 2 ? nSize - 2 - used : 0;
      std::memcpy(out + used, n.data(), room);
      out[nSize - 2] = '\0';
      out[nSize - 1] = '\0';
      return nSize - 2;
    }
    std::memcpy(out + used, n.c_str(), n.size() + 1);
    used += static_cast<DWORD>(n.size() + 1);
  }
  out[used] = '\0';
  return used;
}

DWORD CopyValue(const std::string& value, LPSTR out, DWORD nSize) {
  if (nSize == 0) {
    return 0;
  }
  const DWORD n = static_cast<DWORD>(std::min<size_t>(value.size(), nSize - 1));
  std::memcpy(out, value.data(), n);
  out[n] = '\0';
  return n;
}

// Parses a number as the Windows profile reader does: leading blanks, an
// optional sign, then "0x" hexadecimal, "0o" octal, "0b" binary or decimal
// digits up to the first character that is none of them.
UINT ParseProfileInt(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
    ++i;
  }
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  unsigned base = 10;
  if (i + 1 < text.size() && text[i] == '0') {
    const char p = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i + 1])));
    base = p == 'x' ? 16 : p == 'o' ? 8 : p == 'b' ? 2 : 10;
    if (base != 10) {
      i += 2;
    }
  }
  std::uint32_t value = 0;
  for (; i < text.size(); ++i) {
    const int c = std::tolower(static_cast<unsigned char>(text[i]));
    unsigned digit;
    if (c >= '0' && c <= '9') {
      digit = static_cast<unsigned>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<unsigned>(c - 'a' + 10);
    } else {
      break;
    }
    if (digit >= base) {
      break;
    }
    value = value * base + digit;
  }
  return negative ? static_cast<UINT>(0u - value) : value;
}

}  // namespace

DWORD GetPrivateProfileStringA(LPCSTR lpAppName, LPCSTR lpKeyName, LPCSTR lpDefault,
                               LPSTR lpReturnedString, DWORD nSize, LPCSTR lpFileName) {
  if (lpReturnedString == nullptr || lpFileName == nullptr) {
    SetLastError(ERROR_INVALID_PARAMETER);
    return 0;
  }
  const std::optional<std::vector<Entry>> entries = Parse(lpFileName);
  if (!entries) {
    SetLastError(ERROR_FILE_NOT_FOUND);
  }
  if (lpAppName == nullptr || lpKeyName == nullptr) {
    std::vector<std::string> names;
    if (entries) {
      for (const Entry& e : *entries) {
        const std::string& n = lpAppName == nullptr ? e.section : e.key;
        if (lpAppName != nullptr && !EqualNoCase(e.section, lpAppName)) {
          continue;
        }
        const bool seen = std::any_of(names.begin(), names.end(),
                                      [&](const std::string& x) { return EqualNoCase(x, n.c_str()); });
        if (!seen) {
          names.push_back(n);
        }
      }
    }
    return CopyList(names, lpReturnedString, nSize);
  }
  if (entries) {
    for (const Entry& e : *entries) {
      if (EqualNoCase(e.section, lpAppName) && EqualNoCase(e.key, lpKeyName)) {
        return CopyValue(e.value, lpReturnedString, nSize);
      }
    }
  }
  // The default loses its trailing blanks, as on Windows.
  std::string def = lpDefault != nullptr ? lpDefault : "";
  while (!def.empty() && def.back() == ' ') {
    def.pop_back();
  }
  return CopyValue(def, lpReturnedString, nSize);
}

UINT GetPrivateProfileIntA(LPCSTR lpAppName, LPCSTR lpKeyName, int nDefault,
                           LPCSTR lpFileName) {
  if (lpAppName == nullptr || lpKeyName == nullptr) {
    return static_cast<UINT>(nDefault);
  }
  char buffer[64] = {};
  const DWORD n = GetPrivateProfileStringA(lpAppName, lpKeyName, "", buffer,
                                           sizeof(buffer), lpFileName);
  if (n == 0) {
    return static_cast<UINT>(nDefault);
  }
  return ParseProfileInt(std::string(buffer, n));
}
