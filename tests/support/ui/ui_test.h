// What a UI test program knows about the language run it is in
// (scripts/ui-run sets MERRO_UI_LANG).
#pragma once

#include <windows.h>

#include <string>

namespace merro::test {

enum class UiLanguage { English, SimplifiedChinese, TraditionalChinese };

// The run's language: en_US, zh_CN or zh_TW; English when run by hand.
UiLanguage CurrentUiLanguage();
// Its name as in MERRO_UI_LANG ("en_US" when unset).
std::string UiLanguageName();
// The UI language id Wine must report for the run (0x0409, 0x0804, 0x0404).
LANGID ExpectedUiLanguageId(UiLanguage language);

// A child mode of a UI test program: started again with `flag` as its first
// argument, the program runs `run(argc, argv)` instead of its tests and
// exits with its result. Registered at namespace scope of a test file:
//   const bool kChild = merro::test::RegisterChildMode("--my-child", &MyChild);
using ChildMain = int (*)(int argc, char** argv);
bool RegisterChildMode(const char* flag, ChildMain run);

}  // namespace merro::test
