// Hand-built RawFrames and PackedFrames files for the reader tests, and a
// CRvoFile set up to read one the way opening leaves it.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "container/RvoFile.h"
#include "platform/RawFile.h"
#include "tests/container/Fixtures.h"
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

// Opens for reading, as the host's open command leaves it, a record file
// made from the one at path: its records (the bytes from 512 on, whatever
// they hold) behind a header block that claims mode, the size and the frame
// count, and the given frame-size table (mode 5; zeros added up to the frame
// count, which opening requires), placed before the records so that the file
// still ends where they end. The table may disagree with the records.
inline bool SetUpRecordReader(CRvoFile& f, const std::string& path, int mode, LONG cx, LONG cy, uint32_t frames,
                              const std::vector<uint32_t>& table) {
    const std::vector<uint8_t> file = rvotest::ReadAll(path);
    if (file.size() < 512) return false;
    std::vector<uint32_t> words = table;
    if (mode == 5 && words.size() < frames) words.resize(frames, 0);
    const uint32_t tableBytes = mode == 5 ? Pad(4 * (uint32_t)words.size(), 512) : 0;
    std::vector<uint8_t> v = rvotest::HeaderBytes({512 + tableBytes, frames, (int32_t)frames, (int32_t)mode, (int32_t)cx,
                                                   (int32_t)cy, tableBytes, 0, mode == 5 ? 512u : 0u},
                                                  512);
    for (uint32_t w : words) Put(v, w);
    v.resize(512 + tableBytes, 0);
    v.insert(v.end(), file.begin() + 512, file.end());
    const std::string opened = path + ".opened";
    rvotest::WriteAll(opened, v);
    return f.OpenForReading(rvotest::Wide(opened).c_str()) != FALSE;
}

// Opens for reading an indexed file (modes 1-3) of the given header size: the
// header, the index records, then the frame area, so that the file ends with
// the frame area. Blob offsets are given as in a file whose frame area starts
// at 160, right after the header.
inline bool OpenIndexFile(CRvoFile& f, const std::string& path, int mode, LONG w, LONG h,
                          const std::vector<uint8_t>& frameArea, std::vector<fixture::Record> records) {
    std::vector<uint8_t> index;
    for (const fixture::Record& r : records) fixture::Append(index, fixture::RecordBytes(r));
    for (fixture::Record& r : records)
        if (r.blobOffset) r.blobOffset += (uint32_t)index.size();
    index.clear();
    for (const fixture::Record& r : records) fixture::Append(index, fixture::RecordBytes(r));
    std::vector<uint8_t> v = rvotest::HeaderBytes({.entryCount = (uint32_t)records.size(),
                                                   .frameCount = (int32_t)records.size(),
                                                   .mode = mode,
                                                   .width = w,
                                                   .height = h});
    fixture::Append(v, index);
    fixture::Append(v, frameArea);
    rvotest::WriteAll(path, v);
    return f.OpenForReading(rvotest::Wide(path).c_str()) != FALSE;
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
