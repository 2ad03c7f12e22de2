// Growable arrays in the manner of MFC's CPtrArray, CDWordArray and CUIntArray.
// Index positions outside the array raise CInvalidArgException, as MFC's do.
#pragma once

#include <vector>

#include "platform/Exceptions.h"
#include "platform/Types.h"

template <typename T>
class CSimpleArray {
public:
    int GetSize() const { return (int)m_v.size(); }
    int GetCount() const { return (int)m_v.size(); }
    bool IsEmpty() const { return m_v.empty(); }
    // nGrowBy is how the original arrays grow; vectors need no hint.
    void SetSize(int nNewSize, int nGrowBy = -1) {
        if (nNewSize < 0) AfxThrowInvalidArgException();
        m_v.resize((size_t)nNewSize);
    }
    T GetAt(int i) const { return m_v[Check(i)]; }
    void SetAt(int i, T v) { m_v[Check(i)] = v; }
    T& ElementAt(int i) { return m_v[Check(i)]; }
    T operator[](int i) const { return GetAt(i); }
    T& operator[](int i) { return ElementAt(i); }
    int Add(T v) {
        m_v.push_back(v);
        return (int)m_v.size() - 1;
    }
    void RemoveAll() { m_v.clear(); }
    const T* GetData() const { return m_v.data(); }
    T* GetData() { return m_v.data(); }

private:
    size_t Check(int i) const {
        if (i < 0 || (size_t)i >= m_v.size()) AfxThrowInvalidArgException();
        return (size_t)i;
    }
    std::vector<T> m_v;
};

typedef CSimpleArray<void*> CPtrArray;
typedef CSimpleArray<DWORD> CDWordArray;
typedef CSimpleArray<UINT> CUIntArray;
