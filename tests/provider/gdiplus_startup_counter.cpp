#include "tests/provider/gdiplus_startup_counter.h"

#include <atomic>
#include <cstring>

namespace merro::testing {
namespace {

using StartupFn = int(WINAPI*)(ULONG_PTR*, const void*, void*);

std::atomic<LONG> g_count{0};
StartupFn g_pfnReal = nullptr;

int WINAPI CountingStartup(ULONG_PTR* token, const void* input, void* output) {
  ++g_count;
  return g_pfnReal(token, input, output);
}

// Writes a pointer into a read-only import-table slot.
bool WriteEntry(void** pEntry, void* pValue) {
  DWORD dwOld = 0;
  if (!::VirtualProtect(pEntry, sizeof *pEntry, PAGE_READWRITE, &dwOld)) {
    return false;
  }
  *pEntry = pValue;
  ::VirtualProtect(pEntry, sizeof *pEntry, dwOld, &dwOld);
  return true;
}

// The program's import-table slot that holds pTarget, in the imports of the
// named DLL; null when there is none.
void** FindImportEntry(const char* pszDll, void* pTarget) {
  auto* base = reinterpret_cast<BYTE*>(::GetModuleHandleW(nullptr));
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  if (dir.VirtualAddress == 0) {
    return nullptr;
  }
  for (auto* desc = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress);
       desc->Name != 0; ++desc) {
    if (_stricmp(reinterpret_cast<const char*>(base + desc->Name), pszDll) != 0) {
      continue;
    }
    for (auto** slot = reinterpret_cast<void**>(base + desc->FirstThunk); *slot != nullptr;
         ++slot) {
      if (*slot == pTarget) {
        return slot;
      }
    }
  }
  return nullptr;
}

}  // namespace

GdiplusStartupCounter::GdiplusStartupCounter() {
  HMODULE gdiplus = ::GetModuleHandleW(L"gdiplus.dll");
  void* pReal = gdiplus != nullptr ? reinterpret_cast<void*>(::GetProcAddress(gdiplus, "GdiplusStartup"))
                                   : nullptr;
  void** pEntry = pReal != nullptr ? FindImportEntry("gdiplus.dll", pReal) : nullptr;
  if (pEntry == nullptr) {
    return;
  }
  g_pfnReal = reinterpret_cast<StartupFn>(pReal);
  g_count = 0;
  if (WriteEntry(pEntry, reinterpret_cast<void*>(&CountingStartup))) {
    m_pEntry = pEntry;
    m_pOriginal = pReal;
  }
}

GdiplusStartupCounter::~GdiplusStartupCounter() {
  if (m_pEntry != nullptr) {
    WriteEntry(m_pEntry, m_pOriginal);
  }
}

LONG GdiplusStartupCounter::Count() const { return g_count; }

}  // namespace merro::testing
