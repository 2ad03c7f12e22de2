// Frames for the encoder tests: pixels in a host-like buffer whose stride may
// exceed the width (gap pixels hold a marker that must never reach a record),
// plus an expander written from the record layout alone.
#pragma once

#include <cstdint>
#include <cstring>
#include <ostream>
#include <vector>

#include "platform/Types.h"
#include "tests/support/SyntheticFrames.h"

namespace enctest {

constexpr DWORD kGapMarker = 0xDEADBEEFu;

inline DWORD Bgra(BYTE b, BYTE g, BYTE r, BYTE a) {
    return (DWORD)b | ((DWORD)g << 8) | ((DWORD)r << 16) | ((DWORD)a << 24);
}

struct TestFrame {
    SIZE size{0, 0};
    int stride = 0;   // pixels; negative: rows run upwards in memory
    std::vector<DWORD> store;

    TestFrame(LONG cx, LONG cy, int nGap = 0, bool bBottomUp = false) : size{cx, cy} {
        int step = cx + nGap;
        store.assign((size_t)step * (size_t)cy + 1, kGapMarker);
        stride = bBottomUp ? -step : step;
    }
    // Row y (0 = top) in the buffer.
    DWORD* Row(LONG y) {
        size_t step = (size_t)(stride < 0 ? -stride : stride);
        size_t r = stride < 0 ? (size_t)(size.cy - 1 - y) : (size_t)y;
        return store.data() + r * step;
    }
    const DWORD* Top() { return Row(0); }
    DWORD& Walk(size_t i) { return Row((LONG)(i / (size_t)size.cx))[i % (size_t)size.cx]; }
    size_t Count() const { return (size_t)size.cx * (size_t)size.cy; }
    // The pixels in walk order.
    std::vector<DWORD> Packed() {
        std::vector<DWORD> v(Count());
        for (size_t i = 0; i < v.size(); ++i) v[i] = Walk(i);
        return v;
    }
};

// Fills the frame's pixels with synthetic content, whatever its stride.
inline void Fill(TestFrame& f, rvotest::Content c, uint32_t nSeed) {
    rvotest::FillFrame(f.Row(0), f.size.cx, f.size.cy, f.stride, c, nSeed);
}

// A frame of one row holding the given pixels.
inline TestFrame RowFrame(const std::vector<DWORD>& pixels) {
    TestFrame f((LONG)pixels.size(), 1);
    for (size_t i = 0; i < pixels.size(); ++i) f.Walk(i) = pixels[i];
    return f;
}

inline uint32_t GetU32(const std::vector<uint8_t>& v, size_t at) {
    return (uint32_t)v[at] | ((uint32_t)v[at + 1] << 8) | ((uint32_t)v[at + 2] << 16) | ((uint32_t)v[at + 3] << 24);
}

// Expands a packed record into L pixels. Every field is checked against the
// record: runs must cover exactly L pixels, counts but the last must be
// multiples of 4, sections must lie inside recordBytes. Empty on any violation.
inline std::vector<DWORD> ExpandPackedRecord(const std::vector<uint8_t>& rec) {
    std::vector<DWORD> none;
    if (rec.size() < 16) return none;
    const uint32_t tag = GetU32(rec, 0), recordBytes = GetU32(rec, 4), s1 = GetU32(rec, 8), L = GetU32(rec, 12);
    if (recordBytes != rec.size() || recordBytes % 512 != 0 || L == 0) return none;
    const uint64_t c = 16 + 4 * (uint64_t)s1;
    if (c > recordBytes) return none;
    std::vector<DWORD> out(L, 0);
    auto byteOf = [](uint32_t w, uint64_t i) { return (BYTE)(w >> (8 * (i % 4))); };
    // Walks n-byte elements from `at`; calls put(pixel, element offset) for each pixel.
    auto walkRuns = [&](uint64_t at, uint64_t elemBytes, auto put) -> bool {
        uint64_t i = 0;
        while (i < L) {
            if (at + elemBytes > recordBytes) return false;
            uint32_t count = GetU32(rec, (size_t)at);
            if (count == 0 || count > L - i) return false;
            if (i + count < L && count % 4 != 0) return false;
            for (uint64_t j = 0; j < count; ++j, ++i) put(i, at);
            at += elemBytes;
        }
        return true;
    };
    if (tag == 0xFF000000u) {
        if (s1 != 0 || 16 + 4 * (uint64_t)L > recordBytes) return none;
        for (uint32_t i = 0; i < L; ++i) out[i] = GetU32(rec, 16 + 4 * (size_t)i);
    } else if (tag == 0xFF000001u) {
        uint64_t groups = ((uint64_t)L + 3) / 4;
        if (c + 12 * groups > recordBytes) return none;
        uint64_t runsEnd = 16;
        bool ok = walkRuns(16, 8, [&](uint64_t i, uint64_t at) {
            out[i] = (DWORD)byteOf(GetU32(rec, (size_t)at + 4), i) << 24;
            runsEnd = at + 8;
        });
        if (!ok || runsEnd > c) return none;
        for (uint64_t i = 0; i < L; ++i) {
            size_t g = (size_t)(c + 12 * (i / 4));
            out[i] |= (DWORD)byteOf(GetU32(rec, g + 4), i) | ((DWORD)byteOf(GetU32(rec, g), i) << 8) |
                      ((DWORD)byteOf(GetU32(rec, g + 8), i) << 16);
        }
    } else if (tag == 0xFF000010u) {
        if (16 + (uint64_t)L > c) return none;
        for (uint32_t i = 0; i < L; ++i) out[i] = (DWORD)rec[16 + i] << 24;
        bool ok = walkRuns(c, 16, [&](uint64_t i, uint64_t at) {
            out[i] |= (DWORD)byteOf(GetU32(rec, (size_t)at + 8), i) |
                      ((DWORD)byteOf(GetU32(rec, (size_t)at + 4), i) << 8) |
                      ((DWORD)byteOf(GetU32(rec, (size_t)at + 12), i) << 16);
        });
        if (!ok) return none;
    } else {
        return none;
    }
    return out;
}

// One element of a run list: alpha p0 only; colour green, blue, red.
struct RunRec {
    DWORD count;
    DWORD p0 = 0, p1 = 0, p2 = 0;
    bool operator==(const RunRec&) const = default;
};

inline void PrintTo(const RunRec& r, std::ostream* os) {
    *os << std::hex << "{" << r.count << ", " << r.p0 << ", " << r.p1 << ", " << r.p2 << "}";
}

// The colour pass as a pixel-by-pixel walk, keeping the open element, written
// from the description of the rule; it also serves the alpha channel. Without
// bLimit the colour walk never gives up.
struct RefResult {
    bool bAbandoned = false;
    std::vector<RunRec> runs;
};

inline RefResult ReferenceWalk(const std::vector<DWORD>& px, bool bColour, bool bLimit = true) {
    const size_t L = px.size();
    const long long limit = (long long)((double)(3 * L) * 0.8);
    auto val = [&](size_t i) { return bColour ? px[i] & 0xFFFFFF : px[i] >> 24; };
    auto pattern = [&](const std::vector<DWORD>& vals, int shift) {
        DWORD p = 0;
        for (size_t k = 0; k < vals.size(); ++k) p |= ((vals[k] >> shift) & 0xFF) << (8 * k);
        return p;
    };
    RefResult res;
    auto emit = [&](DWORD count, const std::vector<DWORD>& vals) {
        if (bColour)
            res.runs.push_back({count, pattern(vals, 8), pattern(vals, 0), pattern(vals, 16)});
        else
            res.runs.push_back({count, pattern(vals, 0), 0, 0});
    };
    bool bRun = true;
    DWORD runVal = val(0), n = 1;
    std::vector<DWORD> lit;
    long long closed = 0;
    for (size_t i = 1; i < L; ++i) {
        if (bColour && bLimit && 16 * closed > limit) {
            res.bAbandoned = true;
            break;
        }
        DWORD v = val(i);
        if (bRun) {
            if (v == runVal) {
                ++n;
            } else if (n < 4) {
                lit.assign(n, runVal);
                lit.push_back(v);
                bRun = false;
            } else {
                DWORD r = n % 4;
                emit(n - r, std::vector<DWORD>(4, runVal));
                ++closed;
                if (r) {
                    lit.assign(r, runVal);
                    lit.push_back(v);
                    bRun = false;
                } else {
                    runVal = v;
                    n = 1;
                }
            }
        } else if (lit.size() == 4) {
            emit(4, lit);
            ++closed;
            bRun = true;
            runVal = v;
            n = 1;
        } else {
            lit.push_back(v);
        }
    }
    if (res.bAbandoned) {
        res.runs.clear();
    } else if (bRun) {
        emit(n, std::vector<DWORD>(4, runVal));
    } else {
        DWORD count = (DWORD)lit.size();
        lit.resize(4, 0);
        emit(count, lit);
    }
    return res;
}

}   // namespace enctest
