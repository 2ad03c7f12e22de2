// What a 32-bit host knows of the module: the exported functions, and the
// parameter and frame-buffer records as bytes at fixed offsets. Nothing here
// comes from the module's own headers.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/TestFiles.h"

static_assert(sizeof(void*) == 4, "the host's records have 4-byte pointers");

namespace host {

// Byte offsets of the host's parameter record (1176 bytes).
enum : size_t {
    kOffTime = 40,
    kOffFieldDuration = 48,
    kOffPath = 56,
    kPathUnits = 256,
    kOffDst = 568,
    kOffLeft = 572,
    kOffTop = 576,
    kOffRight = 580,
    kOffBottom = 584,
    kOffDeliveryMode = 588,
    kOffSrc = 616,
    kOffFilter = 620,
    kOffTotalDuration = 624,
    kOffWidth = 624,
    kOffHeight = 628,
    kOffDuration = 632,
    kOffCaps1 = 640,
    kOffCaps2 = 644,
    kOffProgress = 1168,
    kOffCompression = 1172,
    kRecordBytes = 1176,
};

class Record {
public:
    explicit Record(uint8_t fill = 0) { std::memset(m_ab, fill, sizeof m_ab); }
    uint8_t* Bytes() { return m_ab; }

    void PutI32(size_t off, int32_t v) { std::memcpy(m_ab + off, &v, 4); }
    void PutDouble(size_t off, double v) { std::memcpy(m_ab + off, &v, 8); }
    void PutPtr(size_t off, const void* p) {
        uint32_t v = (uint32_t)(uintptr_t)p;
        std::memcpy(m_ab + off, &v, 4);
    }
    int32_t I32(size_t off) const {
        int32_t v;
        std::memcpy(&v, m_ab + off, 4);
        return v;
    }
    double Double(size_t off) const {
        double v;
        std::memcpy(&v, m_ab + off, 8);
        return v;
    }
    const void* Ptr(size_t off) const {
        uint32_t v;
        std::memcpy(&v, m_ab + off, 4);
        return (const void*)(uintptr_t)v;
    }
    // The path as NUL-terminated UTF-16LE (test paths are ASCII).
    void PutPath(const std::string& s) {
        std::memset(m_ab + kOffPath, 0, 2 * kPathUnits);
        for (size_t i = 0; i < s.size() && i < kPathUnits - 1; i++) m_ab[kOffPath + 2 * i] = (uint8_t)s[i];
    }
    void PutRegion(int32_t l, int32_t t, int32_t r, int32_t b) {
        PutI32(kOffLeft, l);
        PutI32(kOffTop, t);
        PutI32(kOffRight, r);
        PutI32(kOffBottom, b);
    }

private:
    alignas(8) uint8_t m_ab[kRecordBytes];
};

// The host's frame-buffer record: width at 8, height at 12, stride at 16, pixels at 24.
struct FrameBuffer {
    alignas(4) uint8_t ab[28] = {};
    std::vector<uint32_t> px;
    FrameBuffer(int32_t w, int32_t h, int32_t stride, uint32_t fill) : px((size_t)stride * h, fill) {
        std::memcpy(ab + 8, &w, 4);
        std::memcpy(ab + 12, &h, 4);
        std::memcpy(ab + 16, &stride, 4);
        uint32_t p = (uint32_t)(uintptr_t)px.data();
        std::memcpy(ab + 24, &p, 4);
    }
};

typedef int(__attribute__((stdcall)) * MainFn)(unsigned, void*, void*, void**);

// The module loaded once for the whole program.
struct Plugin {
    void* lib = nullptr;
    MainFn main = nullptr;
    std::string error;
};
Plugin& Module();

// Runs Main with one input record and one output record.
inline int Call(unsigned cmd, Record& in, Record& out, void** slot) {
    return Module().main(cmd, in.Bytes(), out.Bytes(), slot);
}

// Scratch files and byte builders, shared with the other test programs.
using rvotest::DiffBytes;
using rvotest::HeaderBytes;
using rvotest::PutU32;
using rvotest::PutZeros;
using rvotest::ReadAll;
using rvotest::ScratchPath;
using rvotest::WriteAll;

}   // namespace host
