// The remaining-tries texts as the run's language shows them, written out:
// the PIN dialog's line, and the first line of the operation confirmation.
// In Chinese both say the same words with the language's own punctuation.
#pragma once

#include <string>

#include "tests/support/ui/ui_test.h"

namespace merro::test {

inline std::wstring PinDialogTriesLine(int tries) {
  const std::wstring n = std::to_wstring(tries);
  switch (CurrentUiLanguage()) {
    case UiLanguage::SimplifiedChinese:
      return L"剩余PIN码输入次数：" + n;
    case UiLanguage::TraditionalChinese:
      return L"剩餘PIN碼輸入次數：" + n;
    default:
      return L"Remaining times for PIN input: " + n;
  }
}

inline std::wstring OperationTriesLine(int tries) {
  const std::wstring n = std::to_wstring(tries);
  switch (CurrentUiLanguage()) {
    case UiLanguage::SimplifiedChinese:
      return L"剩余PIN码输入次数：" + n + L"，请谨慎操作。";
    case UiLanguage::TraditionalChinese:
      return L"剩餘PIN碼輸入次數：" + n + L"，請謹慎操作。";
    default:
      return L"Remaining times " + n + L", please take caution.";
  }
}

}  // namespace merro::test
