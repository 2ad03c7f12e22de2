// The busy lock of a codec engine: Lock waits while another operation holds
// it. A mutex with a condition variable on POSIX, a critical section with a
// condition variable on Windows (platform/posix/BusyLock.cpp, platform/win32/BusyLock.cpp).
#pragma once

#include "platform/Types.h"

class CBusyLock {
public:
    CBusyLock();
    ~CBusyLock();
    CBusyLock(const CBusyLock&) = delete;
    CBusyLock& operator=(const CBusyLock&) = delete;

    // Waits until no one holds the lock, then holds it.
    void Lock();
    void Unlock();
    BOOL IsBusy() const;

private:
    struct Impl;
    Impl* m_pImpl;
};
