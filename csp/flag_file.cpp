#include "csp/flag_file.h"

#include "foundation/win/flag_file.h"

namespace merro::csp {

BOOL FlagFileExists() { return merro::win::FlagFileExists(); }

}  // namespace merro::csp
