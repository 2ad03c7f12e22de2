// Owner of one block from AllocAligned or AllocFrameBlock: freed when it is
// replaced or its owner dies, so no path has to free it by hand.
#pragma once

#include "platform/RawFile.h"

template <class T>
class CAlignedBuffer {
public:
    CAlignedBuffer() = default;
    ~CAlignedBuffer() { FreeAligned(m_p); }
    CAlignedBuffer(const CAlignedBuffer&) = delete;
    CAlignedBuffer& operator=(const CAlignedBuffer&) = delete;

    operator T*() const { return m_p; }
    T* Get() const { return m_p; }
    // Takes p (may be null), freeing the block held before.
    void Reset(void* p = nullptr) {
        if (m_p != p) FreeAligned(m_p);
        m_p = static_cast<T*>(p);
    }

private:
    T* m_p = nullptr;
};
