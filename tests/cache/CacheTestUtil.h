// Frames, field records and destinations shared by the preload cache tests.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "cache/FieldCodec.h"
#include "cache/PreloadBlocks.h"
#include "platform/Cpu.h"
#include "platform/Memory.h"
#include "platform/RawFile.h"
#include "platform/Types.h"
#include "tests/support/SyntheticFrames.h"

namespace cachetest {

constexpr DWORD kSentinel = 0xDEADBEEFu;
// Under qemu the 32-bit build runs far slower: fewer and smaller cases.
constexpr bool kSlowTarget = sizeof(void*) == 4;

struct SavedSse2 {
    BOOL saved = g_bSse2;
    ~SavedSse2() { g_bSse2 = saved; }
};

struct MemoryOverride {
    explicit MemoryOverride(size_t n) { SetAvailableMemoryOverride(true, n); }
    ~MemoryOverride() { SetAvailableMemoryOverride(false, 0); }
};

// A frame in a page-aligned buffer, as the container's working frame buffer is.
struct Frame {
    LONG w, h;
    DWORD* px;
    Frame(LONG cx, LONG cy) : w(cx), h(cy), px(static_cast<DWORD*>(AllocAligned(4 * (size_t)cx * cy + 4))) {}
    ~Frame() { FreeAligned(px); }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;
    DWORD& At(LONG x, LONG y) { return px[(size_t)y * w + x]; }
    DWORD At(LONG x, LONG y) const { return px[(size_t)y * w + x]; }
};

using rvotest::Content;

// Noise, Runs (flat runs of every length around the run threshold) and
// Natural (smooth light with sensor noise, the occasional equal stretch) are
// the contents the field records meet.
inline void Fill(Frame& f, Content c, uint32_t seed) { rvotest::FillFrame(f.px, f.w, f.h, f.w, c, seed); }

// A packed record and its size, freed with the block functions.
struct Record {
    BYTE* p = nullptr;
    size_t bytes = 0;
    Record() = default;
    Record(const Record&) = delete;
    Record& operator=(const Record&) = delete;
    Record(Record&& o) noexcept : p(o.p), bytes(o.bytes) { o.p = nullptr; }
    ~Record() { FreeLockedBlock(p, bytes); }
    std::vector<uint8_t> Bytes() const { return std::vector<uint8_t>(p, p + bytes); }
    BYTE* Release() {
        BYTE* r = p;
        p = nullptr;
        return r;
    }
};

// Work arrays kept across encodes, as the preload keeps them.
struct Work {
    void* tok = nullptr;
    LONG tokCap = 0;
    void* slot = nullptr;
    LONG slotCap = 0;
    ~Work() {
        FreeFieldWork(tok, tokCap);
        FreeFieldWork(slot, slotCap);
    }
};

// Field f of a frame as the preload makes it.
inline Record EncodeField(const Frame& fr, int f, Work& w) {
    Record r;
    LONG T = 0, S = 0, units = 0;
    EXPECT_TRUE(FieldEncode(fr.px + (ptrdiff_t)f * fr.w, fr.w, 2 * (ptrdiff_t)fr.w, fr.px + (ptrdiff_t)fr.w * fr.h,
                            w.tok, w.tokCap, T, w.slot, w.slotCap, S));
    r.p = FieldPack(fr.w, fr.h, w.tok, T, w.slot, S, units);
    EXPECT_NE(r.p, nullptr);
    r.bytes = 8 * (size_t)units;
    return r;
}

// Expected record bytes, every number written out by the test.
inline std::vector<uint8_t> RecordBytes(uint16_t w, uint16_t h, uint32_t T, uint32_t literalOffset,
                                        uint32_t totalWords, const std::vector<uint16_t>& tokens,
                                        const std::vector<uint32_t>& slots) {
    std::vector<uint8_t> v;
    auto put = [&](uint32_t x, int n) {
        for (int i = 0; i < n; i++) v.push_back((uint8_t)(x >> (8 * i)));
    };
    put(w, 2);
    put(h, 2);
    put(T, 4);
    put(literalOffset, 4);
    put(totalWords, 4);
    for (uint16_t t : tokens) put(t, 2);
    for (uint32_t s : slots) put(s, 4);
    return v;
}

}   // namespace cachetest
