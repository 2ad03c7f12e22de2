// Preload cache speed on 1920x1080 frames: field encoding and packing per frame,
// delivery of both fields from raw blocks and from field records (rendered
// graphics over transparency, and natural video), each against a plain memcpy
// of the same frames in the same run, and the cache's bytes per frame against
// the raw frame.
#include <cstdio>
#include <cstring>
#include <vector>

#include "bench/BenchSupport.h"
#include "cache/Delivery.h"
#include "cache/FieldCodec.h"
#include "cache/PreloadBlocks.h"
#include "container/AlignedBuffer.h"
#include "container/RvoFile.h"
#include "platform/Cpu.h"
#include "platform/RawFile.h"
#include "tests/support/SyntheticFrames.h"

using namespace rvo;

namespace {

constexpr LONG kW = 1920, kH = 1080;
constexpr int kFrames = 6;   // cycled, so the cache is not one frame hot in the processor's cache
constexpr size_t kFramePixels = (size_t)kW * kH;
constexpr size_t kFrameBytes = 4 * kFramePixels;

// Frames in page-aligned buffers, as the container's working frame buffer is.
struct FrameSet {
    std::vector<DWORD*> px;
    explicit FrameSet(rvotest::Content c) {
        for (int i = 0; i < kFrames; i++) {
            px.push_back(static_cast<DWORD*>(AllocAligned(kFrameBytes)));
            rvotest::FillFrame(px.back(), kW, kH, kW, c, (uint32_t)i);
        }
    }
    ~FrameSet() {
        for (DWORD* p : px) FreeAligned(p);
    }
};

// A preload cache and the file it stands for, delivered from as the file
// object delivers. The file's two working buffers are had before the cache's
// blocks, as a preload has them: where the blocks land moves the copy speed by
// a fifth.
struct CachedMovie {
    CAlignedBuffer<BYTE> frameBuffer, auxBuffer;
    CPreloadCache cache;
    bool bRecords = false;
    CachedMovie() {
        frameBuffer.Reset(AllocFrameBlock(kFrameBytes));
        auxBuffer.Reset(AllocFrameBlock(kFrameBytes));
    }
    int DeliverField(unsigned field, DWORD* pDst, int nStride, int nHeight) const {
        return DeliverCachedField(cache, bRecords, SIZE{kW, kH}, field, pDst, nStride, nHeight);
    }
};

// Fills f's cache with the frames, as the preload stores them for `mode`.
bool Preload(CachedMovie& f, LONG mode, const FrameSet& set) {
    CFieldWork work;
    f.bRecords = IsRecordMode(mode);
    for (DWORD* px : set.px) {
        if (mode == RawFrames) {
            BYTE* p = NewRawFrameBlock(px, kW, kH);
            if (!p) return false;
            f.cache.Add(p, (UINT)kFrameBytes);
            continue;
        }
        for (int fld = 0; fld < 2; fld++) {
            LONG T = 0, S = 0, units = 0;
            BYTE* rec = nullptr;
            if (FieldEncode(px + fld * kW, kW, 2 * kW, px + kFramePixels, work.pTokens, work.nTokenCapacity, T,
                            work.pSlots, work.nSlotCapacity, S))
                rec = FieldPack(kW, kH, work.pTokens, T, work.pSlots, S, units);
            if (!rec) return false;
            f.cache.Add(rec, (UINT)units * 8u);
        }
    }
    return true;
}

double CacheBytesPerFrame(const CachedMovie& f) {
    double n = 0;
    for (int i = 0; i < f.cache.GetSize(); i++) n += f.cache.GetBytesAt(i);
    return n / kFrames;
}

}   // namespace

int main() {
    DetectSse2();
    std::printf("Preload cache, %dx%d frames (%.1f MB), %d frames cycled, SSE2 %s\n", (int)kW, (int)kH,
                kFrameBytes / 1e6, kFrames, g_bSse2 ? "on" : "off");
    FrameSet graphics(rvotest::Content::Graphics), natural(rvotest::Content::Natural);
    std::vector<DWORD> host(kFramePixels);
    DWORD* dst = host.data();
    int failures = 0;

    struct Case {
        const char* name;
        const FrameSet* set;
        LONG mode;
    };
    const Case cases[] = {{"raw blocks (graphics)", &graphics, RawFrames},
                          {"field records, graphics", &graphics, JpegBlobs},
                          {"field records, natural", &natural, JpegBlobs}};
    for (const Case& c : cases) {
        std::printf("%s\n", c.name);
        CachedMovie f;
        if (!Preload(f, c.mode, *c.set)) {
            std::printf("  preload failed (page lock limit? try ulimit -l unlimited)\n");
            failures++;
            continue;
        }
        // The round trip holds before anything is timed, on both copy paths.
        const BOOL sse2 = g_bSse2;
        bool bBack = true;
        for (BOOL path : {FALSE, sse2}) {
            g_bSse2 = path;
            for (int i = 0; i < kFrames; i++) {
                std::memset(dst, 0, kFrameBytes);
                f.DeliverField(2 * i, dst, kW, kH);
                f.DeliverField(2 * i + 1, dst, kW, kH);
                bBack = bBack && std::memcmp(dst, c.set->px[i], kFrameBytes) == 0;
            }
        }
        g_bSse2 = sse2;
        if (!rvobench::Verified(bBack, c.name, "a frame does not come back from the cache")) {
            failures++;
            continue;
        }

        auto copy = [&](int i) { std::memcpy(dst, c.set->px[i % kFrames], kFrameBytes); };
        const rvobench::Timing deliver = rvobench::Time([&](int i) {
            f.DeliverField(2 * (i % kFrames), dst, kW, kH);
            f.DeliverField(2 * (i % kFrames) + 1, dst, kW, kH);
        },
                                                        copy);
        rvobench::PrintRow("memcpy of the frame (baseline)", {deliver.dBaseSeconds, deliver.dBaseSeconds}, kFrameBytes,
                           "memcpy");
        rvobench::PrintRow("delivery of both fields", deliver, kFrameBytes, "memcpy");
        if (c.mode != RawFrames) {
            CFieldWork work;
            const rvobench::Timing encode = rvobench::Time([&](int i) {
                const DWORD* px = c.set->px[i % kFrames];
                for (int fld = 0; fld < 2; fld++) {
                    LONG T = 0, S = 0, units = 0;
                    FieldEncode(px + fld * kW, kW, 2 * kW, px + kFramePixels, work.pTokens,
                                work.nTokenCapacity, T, work.pSlots, work.nSlotCapacity, S);
                    BYTE* rec = FieldPack(kW, kH, work.pTokens, T, work.pSlots, S, units);
                    FreeLockedBlock(rec, (size_t)units * 8);
                }
            },
                                                           copy);
            rvobench::PrintRow("FieldEncode + FieldPack, both fields", encode, kFrameBytes, "memcpy");
        }
        const double bytes = CacheBytesPerFrame(f);
        std::printf("  cache bytes per frame: %.0f (%.3f of the raw frame)\n", bytes, bytes / kFrameBytes);
    }
    return failures ? 1 : 0;
}
