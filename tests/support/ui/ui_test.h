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

}  // namespace merro::test
