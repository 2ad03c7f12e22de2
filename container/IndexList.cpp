// The index's entries, owned.
#include "container/IndexList.h"

void CRvoIndex::Add(RvoIndexEntry* e) {
    try {
        m_arrEntries.Add(e);
    } catch (...) {
        delete e;
        throw;
    }
}

void CRvoIndex::Clear() {
    for (int i = 0; i < m_arrEntries.GetSize(); i++) delete GetEntry(i);
    m_arrEntries.RemoveAll();
}
