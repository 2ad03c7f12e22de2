// The generic codec engine and its busy lock.
#include "codec/Engine.h"

const EngineClass CEngine::classCEngine = {"CEngine", (int)sizeof(CEngine), 0xFFFF, nullptr};

BOOL EngineClass::IsDerivedFrom(const EngineClass* pBase) const {
    for (const EngineClass* p = this; p; p = p->pBaseClass)
        if (p == pBase) return TRUE;
    return FALSE;
}

CEngine::CEngine() : m_nOption(1), m_bInitialized(FALSE) {}

CEngine::~CEngine() = default;

const EngineClass* CEngine::GetRuntimeClass() const { return &classCEngine; }

void CEngine::SetOption(int nOption) { m_nOption = nOption; }

void CEngine::Initialize() {
    if (!m_bInitialized) m_bInitialized = TRUE;
}

void CEngine::Terminate() {
    if (m_bInitialized) m_bInitialized = FALSE;
}

void CEngine::Lock() { m_lockBusy.Lock(); }

void CEngine::Unlock() { m_lockBusy.Unlock(); }

BOOL CEngine::IsBusy() const { return m_lockBusy.IsBusy(); }
