// The index of an open file: its entries in file order, owned (deleted when
// cleared or when the list dies).
#pragma once

#include "container/IndexEntry.h"
#include "platform/Collections.h"

class CRvoIndex {
public:
    CRvoIndex() = default;
    ~CRvoIndex() { Clear(); }
    CRvoIndex(const CRvoIndex&) = delete;
    CRvoIndex& operator=(const CRvoIndex&) = delete;

    int GetEntryCount() const { return m_arrEntries.GetSize(); }
    RvoIndexEntry* GetEntry(int i) const { return static_cast<RvoIndexEntry*>(m_arrEntries.GetAt(i)); }
    // Takes e (owned from here, also when the list cannot grow).
    void Add(RvoIndexEntry* e);
    // n empty slots for SetAt; each slot is filled before anything reads it.
    void SetSize(int n) { m_arrEntries.SetSize(n); }
    void SetAt(int i, RvoIndexEntry* e) { m_arrEntries.SetAt(i, e); }
    void Clear();

private:
    CPtrArray m_arrEntries;   // RvoIndexEntry*, owned, in file order
};
