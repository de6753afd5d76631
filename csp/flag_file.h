// Whether the marker file "TAVR.flag" stands in the system Windows
// directory; the provider's settings record carries the answer.
#pragma once

#include <windows.h>

namespace merro::csp {

BOOL FlagFileExists();

}  // namespace merro::csp
