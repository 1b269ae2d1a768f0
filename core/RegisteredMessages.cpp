#include "core/RegisteredMessages.h"

#include "core/ProcessGlobals.h"

const OrvRegisteredMessages& GetRegisteredMessages() { return CProcessGlobals::GetInstance().GetMessages(); }
