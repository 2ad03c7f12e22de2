// The generic codec engine and its busy lock.
#include "codec/Engine.h"


const EngineClass CEngine::classCEngine = {"CEngine", (int)sizeof(CEngine), 0xFFFF, nullptr};

BOOL EngineClass::IsDerivedFrom(const EngineClass* pBase) const {
    for (const EngineClass* p = this; p; p = p->pBaseClass)
        if (p == pBase) return TRUE;
    return FALSE;
}

CEngine::CEngine() : m_nOption(1), m_bInitialized(FALSE), m_bBusy(FALSE) {}

CEngine::~CEngine() = default;

const EngineClass* CEngine::GetRuntimeClass() const { return &classCEngine; }

void CEngine::SetOption(int nOption) { m_nOption = nOption; }

void CEngine::Initialize() {
    if (!m_bInitialized) m_bInitialized = TRUE;
}

void CEngine::Terminate() {
    if (m_bInitialized) m_bInitialized = FALSE;
}

// Testing and setting the flag under one mutex, with the wait on a condition
// variable, means a release can never slip between a waiter's test and its wait.
void CEngine::Lock() {
    std::unique_lock<std::mutex> g(m_mxBusy);
    m_evIdle.wait(g, [this] { return !m_bBusy; });
    m_bBusy = TRUE;
}

void CEngine::Unlock() {
    {
        std::lock_guard<std::mutex> g(m_mxBusy);
        m_bBusy = FALSE;
    }
    m_evIdle.notify_one();
}

BOOL CEngine::IsBusy() const {
    std::lock_guard<std::mutex> g(m_mxBusy);
    return m_bBusy;
}
