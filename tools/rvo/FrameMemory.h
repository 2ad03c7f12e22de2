// Frame-sized buffers for the tool's pipelines, which keep several frames in
// flight: frame blocks (AllocFrameBlock), aligned for unbuffered file writes
// and backed by huge pages where the system allows, so a 1920x1080 frame is a
// handful of page faults rather than two thousand.
#pragma once

#include <cstddef>

#include "platform/Types.h"

class CFrameMemory {
public:
    CFrameMemory() = default;
    ~CFrameMemory();
    CFrameMemory(const CFrameMemory&) = delete;
    CFrameMemory& operator=(const CFrameMemory&) = delete;

    // At least nBytes, keeping the block when it is large enough already;
    // throws std::bad_alloc when the memory is not there.
    void Reserve(size_t nBytes);

    BYTE* Bytes() const { return m_p; }
    DWORD* Pixels() const { return reinterpret_cast<DWORD*>(m_p); }
    size_t Capacity() const { return m_nBytes; }

private:
    BYTE* m_p = nullptr;
    size_t m_nBytes = 0;
};
