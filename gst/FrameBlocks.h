// Frame buffers over the module's frame blocks (platform/RawFile.h:
// AllocFrameBlock), as the tool's frames are: page-aligned and, from 2 MiB, on
// huge pages, so that an unbuffered read of a record pins a few pages rather
// than thousands. A block comes back for reuse when its buffer is freed,
// downstream or here, and is given back to the system with the last buffer.
#pragma once

#include <gst/gst.h>

#include <memory>
#include <mutex>
#include <vector>

class CFrameBlocks {
public:
    // Buffers of nBytes each.
    static std::shared_ptr<CFrameBlocks> Create(size_t nBytes);
    ~CFrameBlocks();
    CFrameBlocks(const CFrameBlocks&) = delete;
    CFrameBlocks& operator=(const CFrameBlocks&) = delete;

    // A buffer over a free block (a new one when none is free); null when
    // memory cannot be had.
    GstBuffer* Acquire();

private:
    explicit CFrameBlocks(size_t nBytes) : m_nBytes(nBytes) {}
    static void Release(gpointer data);

    size_t m_nBytes;
    std::weak_ptr<CFrameBlocks> m_self;
    std::mutex m_lock;
    std::vector<void*> m_free;
};
