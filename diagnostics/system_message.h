// The system's description of an error number.
#pragma once

#include <string>

#include "platform/win32.h"

// Asks the system's message table (and, for 2100-2999, the network message
// module "netmsg.dll" first) for the text of `code`, inserts left as they are.
// The text keeps its line breaks. False when the system has no text.
bool SystemMessageText(DWORD code, std::wstring& text);
