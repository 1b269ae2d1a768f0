// The questions the program asks before a download may use a connection
// that costs money, shared by the main window and the download dialog.
#pragma once

#include "platform/windows/Windows.h"

// Asks whether a paid connection may be used (the roaming wording while the
// phone is roaming); true on Yes.
bool AskToUsePaidConnection(plat::HWND owner);
