// Hand-built RawFrames and PackedFrames files for the reader tests, and a
// CRvoFile set up to read one the way opening leaves it.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "container/RvoFile.h"
#include "platform/RawFile.h"
#include "tests/decoder/PackedRecords.h"
#include "tests/support/TestFiles.h"

namespace dectest {

// The 512-byte header block of a record file: data from 512, an entry per frame.
inline std::vector<uint8_t> HeaderBlock(uint32_t mode, uint32_t frames, uint32_t w, uint32_t h,
                                        uint32_t tableBytes, uint64_t tableOffset) {
    return rvotest::HeaderBytes({512, frames, (int32_t)frames, (int32_t)mode, (int32_t)w, (int32_t)h, tableBytes,
                                 (uint32_t)(tableOffset >> 32), (uint32_t)tableOffset},
                                512);
}

// A PackedFrames file of the given records, the size table after them.
inline std::vector<uint8_t> PackedFile(const std::vector<std::vector<uint8_t>>& recs, uint32_t w, uint32_t h,
                                       std::vector<uint32_t>* pTable) {
    std::vector<uint8_t> body;
    std::vector<uint32_t> table;
    for (const auto& r : recs) {
        body.insert(body.end(), r.begin(), r.end());
        table.push_back((uint32_t)r.size());
    }
    const uint32_t tableBytes = Pad(4 * (uint32_t)table.size(), 512);
    std::vector<uint8_t> file = HeaderBlock(5, (uint32_t)recs.size(), w, h, tableBytes, 512 + body.size());
    file.insert(file.end(), body.begin(), body.end());
    for (uint32_t s : table) Put(file, s);
    file.resize(512 + body.size() + tableBytes, 0);
    if (pTable) *pTable = table;
    return file;
}

// A RawFrames file: each frame's pixels, zeros up to a multiple of 512.
inline std::vector<uint8_t> RawFile(const std::vector<std::vector<uint32_t>>& frames, uint32_t w, uint32_t h) {
    std::vector<uint8_t> file = HeaderBlock(4, (uint32_t)frames.size(), w, h, 0, 0);
    for (const auto& px : frames) {
        for (uint32_t p : px) Put(file, p);
        file.resize(Pad((uint32_t)file.size(), 512), 0);
    }
    return file;
}

// The state opening leaves for reading modes 4 and 5: the raw handle, the
// table, the working size and buffers. Bypasses Open so that each fixture can
// break one thing the opener would check.
inline bool SetUpRecordReader(CRvoFile& f, const std::string& path, int mode, LONG cx, LONG cy, uint32_t frames,
                              const std::vector<uint32_t>& table) {
    f.m_header.m_nMode = mode;
    f.m_header.m_nWidth = cx;
    f.m_header.m_nHeight = cy;
    f.m_header.m_nFrameCount = (LONG)frames;
    f.m_header.m_nEntryCount = (LONG)frames;
    f.m_header.m_dwIndexOffset = 512;
    const SIZE s = {cx, cy};
    f.SetFrameSize(&s);
    f.m_store.m_hRawFile = CreateFileW(rvotest::Wide(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_NO_BUFFERING, nullptr);
    if (f.m_store.m_hRawFile == INVALID_HANDLE_VALUE) f.m_store.m_hRawFile = nullptr;
    if (mode == 5) {
        f.m_header.m_dwSizeTableBytes = Pad(4 * (uint32_t)table.size(), 512);
        f.m_store.m_pFrameSizeTable.Reset(AllocAligned(f.m_header.m_dwSizeTableBytes ? f.m_header.m_dwSizeTableBytes : 512));
        if (!table.empty()) std::memcpy(f.m_store.m_pFrameSizeTable, table.data(), 4 * table.size());
    }
    return f.m_store.m_hRawFile != nullptr;
}

// A host buffer filled with a canary; Check() reports any pixel outside the
// rectangle (x, y, w, h) that changed, and Rect() returns the rectangle's rows.
struct HostBuffer {
    static constexpr uint32_t kCanary = 0xA5C3E1F0u;
    int nStride, nHeight;
    std::vector<DWORD> px;
    // kSlack canary pixels after the last row catch writes past the buffer's end.
    static constexpr size_t kSlack = 256;
    HostBuffer(int stride, int height, size_t nShift = 0)
        : nStride(stride), nHeight(height), px((size_t)stride * height + nShift + kSlack, kCanary), shift(nShift) {}
    DWORD* At(int x, int y) { return px.data() + shift + (size_t)y * nStride + x; }
    // Number of changed pixels outside the rectangle.
    int Outside(int x, int y, int w, int h) const {
        int n = 0;
        for (size_t i = 0; i < px.size(); i++) {
            if (i < shift) {
                n += px[i] != kCanary;
                continue;
            }
            const int yy = (int)((i - shift) / nStride), xx = (int)((i - shift) % nStride);
            const bool in = xx >= x && xx < x + w && yy >= y && yy < y + h;
            if (!in && px[i] != kCanary) n++;
        }
        return n;
    }
    std::vector<uint32_t> Rect(int x, int y, int w, int h) {
        std::vector<uint32_t> v;
        for (int r = 0; r < h; r++)
            for (int c = 0; c < w; c++) v.push_back(*At(x + c, y + r));
        return v;
    }
    size_t shift;
};

// Rows 0..h-1, columns 0..w-1 of a frame of width cx.
inline std::vector<uint32_t> Crop(const std::vector<uint32_t>& frame, int cx, int w, int h) {
    std::vector<uint32_t> v;
    for (int r = 0; r < h; r++)
        for (int c = 0; c < w; c++) v.push_back(frame[(size_t)r * cx + c]);
    return v;
}

}   // namespace dectest
