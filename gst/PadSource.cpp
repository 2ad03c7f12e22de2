// Byte sources over the upstream pad and over a buffer.
#include "gst/PadSource.h"

#include <cstring>

#include "platform/LastError.h"

CPadByteSource::CPadByteSource(GstPad* pPad, ULONGLONG nSize) : m_pPad(GST_PAD(gst_object_ref(pPad))), m_nSize(nSize) {}

CPadByteSource::~CPadByteSource() { gst_object_unref(m_pPad); }

BOOL CPadByteSource::ReadAt(ULONGLONG nAt, void* pBuf, DWORD nBytes, DWORD* pnRead) {
    *pnRead = 0;
    if (nAt >= m_nSize || nBytes == 0) return TRUE;
    if (nBytes > m_nSize - nAt) nBytes = (DWORD)(m_nSize - nAt);
    DWORD nDone = 0;
    while (nDone < nBytes) {
        // Upstream reads straight into the caller's memory when it can (filesrc does).
        BYTE* p = static_cast<BYTE*>(pBuf) + nDone;
        GstBuffer* pOurs = gst_buffer_new_wrapped_full((GstMemoryFlags)0, p, nBytes - nDone, 0, nBytes - nDone,
                                                       nullptr, nullptr);
        GstBuffer* pGot = pOurs;
        const GstFlowReturn flow = gst_pad_pull_range(m_pPad, nAt + nDone, nBytes - nDone, &pGot);
        if (flow == GST_FLOW_EOS) {
            gst_buffer_unref(pOurs);
            break;   // shorter than upstream said: the reader sees a short read
        }
        if (flow != GST_FLOW_OK) {
            gst_buffer_unref(pOurs);
            m_lastFlow = flow;
            return Fail(ERROR_READ_FAULT);
        }
        gsize n = gst_buffer_get_size(pGot);
        if (n > nBytes - nDone) n = nBytes - nDone;
        if (pGot != pOurs) {
            gst_buffer_extract(pGot, 0, p, n);
            gst_buffer_unref(pOurs);
        }
        gst_buffer_unref(pGot);
        if (n == 0) break;
        nDone += (DWORD)n;
    }
    *pnRead = nDone;
    return TRUE;
}

CBufferByteSource::CBufferByteSource(GstBuffer* pBuffer) : m_pBuffer(pBuffer) {
    if (!gst_buffer_map(m_pBuffer, &m_map, GST_MAP_READ)) m_map = GstMapInfo{};
}

CBufferByteSource::~CBufferByteSource() {
    if (m_map.memory) gst_buffer_unmap(m_pBuffer, &m_map);
    gst_buffer_unref(m_pBuffer);
}

BOOL CBufferByteSource::ReadAt(ULONGLONG nAt, void* pBuf, DWORD nBytes, DWORD* pnRead) {
    *pnRead = 0;
    if (nAt >= m_map.size) return TRUE;
    const ULONGLONG n = nBytes < m_map.size - nAt ? nBytes : m_map.size - nAt;
    std::memcpy(pBuf, m_map.data + nAt, (size_t)n);
    *pnRead = (DWORD)n;
    return TRUE;
}
