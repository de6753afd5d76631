// main() of the UI test programs: before any test, the program checks that
// Wine reports the language of the run, so that a missing locale fails the
// run instead of testing English three times.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "tests/support/ui/ui_test.h"

namespace merro::test {

std::string UiLanguageName() {
  const char* lang = std::getenv("MERRO_UI_LANG");
  return lang != nullptr && *lang != '\0' ? lang : "en_US";
}

UiLanguage CurrentUiLanguage() {
  const std::string name = UiLanguageName();
  if (name == "zh_CN") {
    return UiLanguage::SimplifiedChinese;
  }
  if (name == "zh_TW") {
    return UiLanguage::TraditionalChinese;
  }
  return UiLanguage::English;
}

LANGID ExpectedUiLanguageId(UiLanguage language) {
  switch (language) {
    case UiLanguage::SimplifiedChinese:
      return 0x0804;
    case UiLanguage::TraditionalChinese:
      return 0x0404;
    default:
      return 0x0409;
  }
}

namespace {

std::vector<std::pair<std::string, ChildMain>>& ChildModes() {
  static std::vector<std::pair<std::string, ChildMain>> modes;
  return modes;
}

}  // namespace

bool RegisterChildMode(const char* flag, ChildMain run) {
  ChildModes().emplace_back(flag, run);
  return true;
}

}  // namespace merro::test

int main(int argc, char** argv) {
  if (argc > 1) {
    for (const auto& [flag, run] : merro::test::ChildModes()) {
      if (flag == argv[1]) {
        return run(argc, argv);
      }
    }
  }
  const char* lang = std::getenv("MERRO_UI_LANG");
  if (lang != nullptr && *lang != '\0') {
    const LANGID expected = merro::test::ExpectedUiLanguageId(merro::test::CurrentUiLanguage());
    const LANGID actual = ::GetUserDefaultUILanguage();
    if (actual != expected) {
      std::fprintf(stderr,
                   "UI language of the %s run is 0x%04x, expected 0x%04x: is the locale "
                   "generated and the prefix made under it?\n",
                   lang, actual, expected);
      return 1;
    }
  }
  // The pointer starts in the middle of the test display, where the dialogs
  // come up: each would then get a mouse move and load its cursor on its own
  // thread while a robot thread reads the screen, and libX11 can deadlock
  // when two threads use Wine's shared X connection at once. In the corner
  // the pointer is over no dialog until the robot moves it.
  ::SetCursorPos(::GetSystemMetrics(SM_CXSCREEN) - 1, ::GetSystemMetrics(SM_CYSCREEN) - 1);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
