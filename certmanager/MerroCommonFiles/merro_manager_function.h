// The manager's helper functions: store synchronisation, certificate texts,
// device-interface names and the program's file version.
#pragma once

#include "certmanager/MerroCommonFiles/cert_text.h"
#include "certmanager/MerroCommonFiles/device_interface_name.h"
#include "certmanager/MerroCommonFiles/file_version.h"
#include "certmanager/MerroCommonFiles/store_sync.h"
