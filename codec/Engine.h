// CEngine: the generic codec engine, its class record, its option, its
// prepared state and the busy lock that serialises its operations.
#pragma once

#include "platform/BusyLock.h"
#include "platform/Types.h"

// The class record an engine reports about itself: name, object size, schema
// and base class, in the manner of a run-time class record.
struct EngineClass {
    const char* pszClassName;
    int nObjectSize;
    UINT wSchema;
    const EngineClass* pBaseClass;

    // TRUE when this class is pBase or derives from it.
    BOOL IsDerivedFrom(const EngineClass* pBase) const;
};

class CEngine {
public:
    static const EngineClass classCEngine;

    CEngine();
    virtual ~CEngine();
    CEngine(const CEngine&) = delete;
    CEngine& operator=(const CEngine&) = delete;

    virtual const EngineClass* GetRuntimeClass() const;
    virtual void SetOption(int nOption);
    // Prepares the engine for one operation; sets the initialised state on success.
    virtual void Initialize();
    // Undoes Initialize; does nothing when not initialised.
    virtual void Terminate();

    // The busy lock: Lock waits while another operation holds the engine.
    void Lock();
    void Unlock();

    BOOL IsInitialized() const { return m_bInitialized; }
    BOOL IsBusy() const;
    int GetOption() const { return m_nOption; }

protected:
    int m_nOption;
    BOOL m_bInitialized;

private:
    CBusyLock m_lockBusy;
};
