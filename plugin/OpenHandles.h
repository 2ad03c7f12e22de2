// The handles Main has given out and not yet seen closed, so that a module
// unloaded with files still open can close them as command 10 would.
#pragma once

// Closes every open handle as command 10 does: files being written are
// finished, preloaded pages unlocked, system handles closed. For the unload of
// the library only, not for process exit: the host's slots then point at
// freed records, which is harmless as no Main remains to be called with them.
void CloseOpenHandles();
