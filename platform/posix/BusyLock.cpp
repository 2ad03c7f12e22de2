// The busy lock over a mutex and a condition variable.
#include "platform/BusyLock.h"

#include <condition_variable>
#include <mutex>

struct CBusyLock::Impl {
    BOOL bBusy = FALSE;
    std::mutex mx;
    std::condition_variable evIdle;
};

CBusyLock::CBusyLock() : m_pImpl(new Impl) {}
CBusyLock::~CBusyLock() { delete m_pImpl; }

// Testing and setting the flag under one mutex, with the wait on a condition
// variable, means a release can never slip between a waiter's test and its wait.
void CBusyLock::Lock() {
    std::unique_lock<std::mutex> g(m_pImpl->mx);
    m_pImpl->evIdle.wait(g, [this] { return !m_pImpl->bBusy; });
    m_pImpl->bBusy = TRUE;
}

void CBusyLock::Unlock() {
    {
        std::lock_guard<std::mutex> g(m_pImpl->mx);
        m_pImpl->bBusy = FALSE;
    }
    m_pImpl->evIdle.notify_one();
}

BOOL CBusyLock::IsBusy() const {
    std::lock_guard<std::mutex> g(m_pImpl->mx);
    return m_pImpl->bBusy;
}
