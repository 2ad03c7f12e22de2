// The command logic behind the exported entry point. The plug-in's `Main` and
// the native tools call the same function; nothing escapes it as an exception.
#pragma once

#include "plugin/HostRecords.h"

int RvoDispatch(unsigned nCommand, HostMediaInfo* pIn, HostMediaInfo* pOut, RvoHandle** ppHandle);

// The host's file-dialog filter text, filled when the module is loaded.
extern WCHAR g_szFilterText[64];

// Load-time set-up and unload step (run by the plug-in's constructor and destructor).
BOOL RvoModuleAttach();
void RvoModuleDetach();
