// Whether the bank's marker file "TAVR.flag" stands in the system Windows
// directory. The provider's settings record carries the answer; the manager
// leaves out its start-up boxes for a never-changed PIN and its browser page
// when it is there.
#pragma once

#include <windows.h>

namespace merro::win {

BOOL FlagFileExists();

}  // namespace merro::win
