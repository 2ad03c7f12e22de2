// The command logic behind the exported entry point. The plug-in's `Main` and
// the native tools call the same function; nothing escapes it as an exception.
#pragma once

#include "container/EncodedFrame.h"
#include "plugin/HostRecords.h"

// Runs one host command. Results: kHostDone (0), kHostFailed (1), kHostRefused (2);
// command codes outside 1-10 return 0 and do nothing.
int RvoDispatch(unsigned nCommand, HostMediaInfo* pIn, HostMediaInfo* pOut, RvoHandle** ppHandle);

// Command 8 for a frame already encoded (EncodeFrame, for the file's mode and
// frame size) on another thread: the same bookkeeping, refusals, records,
// size table and index entry, and the same results. The module's writer
// stays single-threaded: frames are appended one at a time, in frame order.
// The blob, if any, is taken in every case. Not a host command: the tools
// that link the module call it.
int RvoAppendFrame(RvoHandle* pHandle, RvoEncodedFrame& frame);

// The host's file-dialog filter text, filled when the module is loaded.
extern WCHAR g_szFilterText[64];

// Load-time set-up and unload step (run by the plug-in's constructor and
// destructor; native programs that use the dispatcher call them themselves).
BOOL RvoModuleAttach();
void RvoModuleDetach();

// Time rules of the host protocol. The host works in doubles; its tolerance is
// the single-precision 0.001 widened to double.
constexpr double kTimeEpsilon = 0.0010000000474974513;

// Truncation toward zero keeping the low 32 bits, as the host's conversion
// does; NaN and values beyond 64 bits give 0.
LONG TruncToLong(double x);
// Field number for a time: one field duration d per field, a fractional part
// up to 0.5 + epsilon rounds down; times below one field give field 0.
unsigned FieldFromTime(double dTime, double dFieldDuration);
// Highest frame number of a movie whose last frame lies at dTotalDuration
// (two fields per frame; a fractional part from 0.5 - epsilon rounds up).
LONG LastFrameFromDuration(double dTotalDuration, double dFieldDuration);
