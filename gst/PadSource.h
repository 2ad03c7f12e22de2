// The bytes of a movie as the module reads them, served from GStreamer: ranges
// pulled from the upstream pad (pull mode, random access as the format needs),
// or the whole file gathered in memory when upstream can only push.
#pragma once

#include <gst/gst.h>

#include <atomic>

#include "platform/ByteSource.h"

class CPadByteSource : public CByteSource {
public:
    // pPad is the element's sink pad, active in pull mode; nSize the upstream length in bytes.
    CPadByteSource(GstPad* pPad, ULONGLONG nSize);
    ~CPadByteSource() override;
    ULONGLONG Size() override { return m_nSize; }
    BOOL ReadAt(ULONGLONG nAt, void* pBuf, DWORD nBytes, DWORD* pnRead) override;
    // The flow result of the last pull that failed (GST_FLOW_OK when none has):
    // GST_FLOW_FLUSHING while a seek or a state change flushes, which is no error.
    GstFlowReturn LastFlow() const { return m_lastFlow; }
    void ClearFlow() { m_lastFlow = GST_FLOW_OK; }

private:
    GstPad* m_pPad;
    ULONGLONG m_nSize;
    std::atomic<GstFlowReturn> m_lastFlow{GST_FLOW_OK};
};

class CBufferByteSource : public CByteSource {
public:
    // Takes pBuffer (the whole file).
    explicit CBufferByteSource(GstBuffer* pBuffer);
    ~CBufferByteSource() override;
    ULONGLONG Size() override { return m_map.size; }
    BOOL ReadAt(ULONGLONG nAt, void* pBuf, DWORD nBytes, DWORD* pnRead) override;

private:
    GstBuffer* m_pBuffer;
    GstMapInfo m_map;
};
