// The busy lock over a critical section and a condition variable.
#include "platform/BusyLock.h"

#include "platform/win32/Win32Api.h"

struct CBusyLock::Impl {
    BOOL bBusy = FALSE;
    w32::CRITICAL_SECTION cs;
    w32::CONDITION_VARIABLE evIdle;
};

CBusyLock::CBusyLock() : m_pImpl(new Impl) {
    w32::InitializeCriticalSection(&m_pImpl->cs);
    w32::InitializeConditionVariable(&m_pImpl->evIdle);
}

CBusyLock::~CBusyLock() {
    w32::DeleteCriticalSection(&m_pImpl->cs);
    delete m_pImpl;
}

// The flag is tested and set inside the critical section, and the wait
// releases it atomically, so a release cannot slip between test and wait.
void CBusyLock::Lock() {
    w32::EnterCriticalSection(&m_pImpl->cs);
    while (m_pImpl->bBusy) w32::SleepConditionVariableCS(&m_pImpl->evIdle, &m_pImpl->cs, w32::kInfinite);
    m_pImpl->bBusy = TRUE;
    w32::LeaveCriticalSection(&m_pImpl->cs);
}

void CBusyLock::Unlock() {
    w32::EnterCriticalSection(&m_pImpl->cs);
    m_pImpl->bBusy = FALSE;
    w32::LeaveCriticalSection(&m_pImpl->cs);
    w32::WakeConditionVariable(&m_pImpl->evIdle);
}

BOOL CBusyLock::IsBusy() const {
    w32::EnterCriticalSection(&m_pImpl->cs);
    const BOOL b = m_pImpl->bBusy;
    w32::LeaveCriticalSection(&m_pImpl->cs);
    return b;
}
