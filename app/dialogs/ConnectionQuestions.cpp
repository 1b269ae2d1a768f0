#include "app/dialogs/ConnectionQuestions.h"

#include "database/GlobalOptions.h"
#include "layout/WindowHelpers.h"

bool AskToUsePaidConnection(plat::HWND owner) {
  const plat::UINT question = GetGlobalOptions().IsRoaming() ? 312 : 221;
  return ShowMessageBox(owner, question, plat::MB_YESNO | plat::MB_ICONQUESTION) == plat::IDYES;
}
