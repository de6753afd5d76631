// The text of a confirmation dialog (control 217): drawn as a left-aligned
// static control draws it, except its heading line, which stands centred.
// A heading is recognised by its words (the language's heading string), not
// by leading spaces: a run of spaces centres a heading only for the width of
// the text it was counted for.
#pragma once

#include <windows.h>

#include <string>
#include <utility>

#include "device/ui/dialog_base.h"

namespace merro::ui {

class CConfirmText : public SubclassedWindow {
 public:
  // A line whose text, without the blanks around it, is `heading` is drawn
  // centred; an empty heading centres nothing.
  void SetHeading(std::wstring heading) { m_heading = std::move(heading); }

 protected:
  LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void Paint(HDC hdc);

  std::wstring m_heading;
};

}  // namespace merro::ui
