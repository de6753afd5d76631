#include "tokenapi/commands/routine_steps.h"

#include "tokenapi/commands/file_commands.h"

namespace merro::commands {

HRESULT SelectStep(const TraceHelper& scope, const wchar_t* step, DEV_CTX* pDevCtx, WORD wFileId) {
  MR_TRACE("SelectStep");
  BYTE info[MR_FILE_INFO_LEN] = {};
  DWORD infoLen = sizeof info;
  return StepResult(scope, step, mr_SelectFile(pDevCtx, MR_SELECT_BY_ID, wFileId, info, &infoLen));
}

}  // namespace merro::commands
