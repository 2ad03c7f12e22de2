// Test hook: a disk that fails. Armed, the file calls of the kinds chosen are
// counted (every handle's, a CFile's too, in either platform layer), and the
// nth of them fails with the error given, as the system would fail it: nothing
// of a failed read or write is transferred, a failed seek leaves the position,
// a failed close still releases the handle. With bSticky every later call of
// those kinds fails too (a full disk stays full); without it only the nth does
// (a transient error). Disarmed (nth 0), files behave as usual.
#pragma once

#include "platform/Types.h"

enum FaultCall : unsigned {
    kFaultRead = 1u << 0,
    kFaultWrite = 1u << 1,
    kFaultSeek = 1u << 2,
    kFaultSetEnd = 1u << 3,
    kFaultClose = 1u << 4,
    kFaultAll = 0x1Fu
};

// nth counts from 1; dwError is a Win32 code (ERROR_CRC, ERROR_DISK_FULL,
// ERROR_ACCESS_DENIED). Counting starts again at every call.
void SetFaultPoint(unsigned nCalls, ULONGLONG nth, DWORD dwError, bool bSticky = false);
// Calls of the armed kinds counted since SetFaultPoint, and how many of them failed.
void GetFaultPointCounts(ULONGLONG* pnCalls, ULONGLONG* pnFailed);

// For the platform layers: counts one call of kind `call`; TRUE, with the
// chosen error as the last error, when it is to fail.
BOOL FaultPointFails(FaultCall call);
