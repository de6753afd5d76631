// The scripted UI, a test seam of the device layer (compiled with the
// simulator), under the name the test programs include.
#pragma once

#include "device/ui/scripted_user_interface.h"
