// The PINs of initialisation, read from PinFile.ini beside the program.
#include <cstring>

#include "foundation/secure_wipe.h"
#include "foundation/trace/trace.h"
#include "tokenapi/commands/init_commands.h"

namespace merro::commands {

std::string PinFilePath() {
  MR_TRACE("PinFilePath");
  return merro::platform::ModuleDirectory() + MR_PIN_INI_NAME;
}

void ReadPinSetting(const char* pszIniPath, const char* pszSection, PinSetting* pSetting) {
  MR_TRACE("ReadPinSetting");
  // The retry count travels as one byte: 300 becomes 44.
  pSetting->byRetry = static_cast<BYTE>(
      GetPrivateProfileIntA(pszSection, "retry", MR_PIN_DEFAULT_RETRY, pszIniPath) & 0xFF);
  merro::SecureWipe(pSetting->szPin, sizeof pSetting->szPin);
  // At most 15 characters and a terminator; a longer PIN is cut.
  pSetting->nPinLen = GetPrivateProfileStringA(pszSection, "pin", MR_PIN_DEFAULT, pSetting->szPin,
                                               sizeof pSetting->szPin, pszIniPath);
  if (pSetting->nPinLen > MR_PIN_INI_MAX) {
    pSetting->nPinLen = MR_PIN_INI_MAX;
  }
  pSetting->szPin[pSetting->nPinLen] = '\0';
}

}  // namespace merro::commands
