#include <gtest/gtest.h>
#include <windows.h>

namespace {

TEST(DllLoad, DefExportedFunctionResolvesAndRuns) {
  HMODULE h = ::LoadLibraryW(L"merro_probe.dll");
  ASSERT_NE(h, nullptr) << "LoadLibrary failed: " << ::GetLastError();
  using Fn = DWORD(WINAPI*)(DWORD);
  auto fn = reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(h, "MerroProbeAnswer")));
  ASSERT_NE(fn, nullptr);
  EXPECT_EQ(fn(20), 41u);
  // Exported under its plain name only: the .def file controls the table.
  EXPECT_EQ(::GetProcAddress(h, "MerroProbeAnswer@4"), nullptr);
  EXPECT_TRUE(::FreeLibrary(h));
}

}  // namespace
