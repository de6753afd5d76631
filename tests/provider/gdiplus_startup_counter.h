// Counts the GdiplusStartup calls of this program while it lives, by
// pointing the program's import-table entry for it at a counting function
// that calls the real one. The program is linked statically, so every call
// from any of its libraries goes through that one entry.
#pragma once

#include <windows.h>

namespace merro::testing {

class GdiplusStartupCounter {
 public:
  GdiplusStartupCounter();
  ~GdiplusStartupCounter();
  GdiplusStartupCounter(const GdiplusStartupCounter&) = delete;
  GdiplusStartupCounter& operator=(const GdiplusStartupCounter&) = delete;

  // Whether the program imports GdiplusStartup and the entry was redirected.
  bool Installed() const { return m_pEntry != nullptr; }
  LONG Count() const;

 private:
  void** m_pEntry = nullptr;
  void* m_pOriginal = nullptr;
};

}  // namespace merro::testing
