// Times the packed-record encoder against a plain memcpy of the same frames in
// the same run, and the raw, packed and JPEG write paths of the frame writer.
// Usage: EncoderBench [folder for scratch files, default .]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "container/PackedRecord.h"
#include "container/RvoFile.h"
#include "decoder/PackedDecode.h"
#include "encoder/PackedBuilder.h"
#include "platform/CString.h"
#include "platform/Cpu.h"
#include "platform/RawFile.h"

namespace {

constexpr int kVariants = 4;    // frames per content, cycled so caches see a stream

struct Content {
    const char* name;
    std::function<DWORD(int x, int y, int w, int h, int v, std::mt19937& rng)> pixel;
};

DWORD Clamp(int c) { return (DWORD)(c < 0 ? 0 : c > 255 ? 255 : c); }

const Content kContents[] = {
    // Rendered graphics: shapes with soft edges over a transparent ground.
    {"graphics+alpha",
     [](int x, int y, int w, int h, int v, std::mt19937&) -> DWORD {
         int cx = w / 3 + v * 16, cy = h / 2;
         double d = std::sqrt((double)(x - cx) * (x - cx) + (double)(y - cy) * (y - cy)) - h / 4.0;
         if (d < 1.0) {
             DWORD a = d <= 0 ? 255 : Clamp((int)(255 * (1.0 - d)));
             return (a << 24) | 0x2060C0u;
         }
         if (x > w / 2 && x < w - w / 8 && y > h / 8 && y < h / 3 + v)
             return 0xFF000000u | (Clamp(x * 255 / w) << 16) | 0x8000u;   // a gradient bar
         if (y > h - h / 6 && (x / 24) % 2 == 0) return 0xC0FFFFFFu;     // a caption band
         return 0;
     }},
    // Natural video: smooth light with sensor noise, opaque.
    {"natural video",
     [](int x, int y, int w, int h, int v, std::mt19937& rng) -> DWORD {
         int n = (int)(rng() % 9) - 4;
         DWORD b = Clamp(x * 200 / w + 20 + n), g = Clamp(y * 200 / h + 30 + n);
         DWORD r = Clamp((int)(128 + 90 * std::sin((x + 2 * y + 8 * v) * 0.01)) + n);
         return 0xFF000000u | (r << 16) | (g << 8) | b;
     }},
    {"noise", [](int, int, int, int, int, std::mt19937& rng) -> DWORD { return rng(); }},
};

struct FrameSet {
    int w, h;
    std::vector<std::vector<DWORD>> frames;
};

FrameSet MakeFrames(int w, int h, const Content& c) {
    FrameSet s{w, h, {}};
    std::mt19937 rng(99);
    for (int v = 0; v < kVariants; ++v) {
        std::vector<DWORD> f((size_t)w * h);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) f[(size_t)y * w + x] = c.pixel(x, y, w, h, v, rng);
        s.frames.push_back(std::move(f));
    }
    return s;
}

double Seconds(const std::function<void(int)>& step, int nReps) {
    step(0);                                   // warm-up, discarded
    auto t0 = std::chrono::steady_clock::now();
    for (int i = 0; i < nReps; ++i) step(i);
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

const char* TagName(DWORD tag) {
    return tag == rvo::PackedRaw ? "raw" : tag == rvo::PackedAlphaRuns ? "alpha runs" : "colour runs";
}

// Every frame of the set must come back from its record before it is timed.
bool Verify(const FrameSet& s, BYTE* pRecord) {
    std::vector<DWORD> back((size_t)s.w * s.h);
    SIZE size{s.w, s.h};
    for (const auto& f : s.frames) {
        DWORD n = BuildPackedRecord(pRecord, f.data(), s.w, size);
        if (!n || !CheckPackedRecord(pRecord, (DWORD)back.size(), n)) return false;
        DecodePackedRecord(pRecord, back.data());
        if (back != f) return false;
    }
    return true;
}

void BenchEncode(const FrameSet& s, const char* contentName, int nReps) {
    const size_t nBytes = 4 * (size_t)s.w * s.h;
    const size_t nCap = (size_t)rvo::MaxPackedRecordBytes((ULONGLONG)s.w * s.h);
    BYTE* pRecord = static_cast<BYTE*>(AllocAligned(nCap));
    BYTE* pCopy = static_cast<BYTE*>(AllocAligned(nCap));
    SIZE size{s.w, s.h};
    if (!Verify(s, pRecord)) {
        std::printf("%-15s %4dx%-4d  ROUND TRIP FAILED\n", contentName, s.w, s.h);
        return;
    }
    double tCopy = Seconds([&](int i) { std::memcpy(pCopy, s.frames[i % kVariants].data(), nBytes); }, nReps);
    DWORD nRecord = 0;
    ULONGLONG nTotal = 0;
    double tPacked = Seconds([&](int i) {
        nRecord = BuildPackedRecord(pRecord, s.frames[i % kVariants].data(), s.w, size);
        nTotal += nRecord;
    }, nReps);
    rvo::PackedRecordHeader h;
    std::memcpy(&h, pRecord, sizeof h);
    double msCopy = 1e3 * tCopy / nReps, msPacked = 1e3 * tPacked / nReps;
    std::printf("%-15s %4dx%-4d  packed %7.3f ms/frame %7.1f frames/s %7.0f MB/s | memcpy %6.3f ms | ratio %5.2fx | "
                "record %8u bytes (%.0f%%, %s)\n",
                contentName, s.w, s.h, msPacked, 1e3 / msPacked, nBytes / 1e6 / (msPacked / 1e3), msCopy,
                msPacked / msCopy, nRecord, 100.0 * nTotal / (nReps + 1) / nBytes, TagName(h.tag));
    FreeAligned(pRecord);
    FreeAligned(pCopy);
}

// One file written through the frame writer, as the host does it.
void BenchWrite(const FrameSet& s, const char* contentName, int nMode, const std::string& dir, int nFrames) {
    std::string path = dir + "/encoder-bench.rvo";
    CRvoFile file;
    file.m_nMode = nMode;
    if (!file.Create(FromUtf8(path).c_str())) {
        std::printf("cannot create %s\n", path.c_str());
        return;
    }
    SIZE size{s.w, s.h};
    file.SetFrameSize(&size);
    bool bOk = true;
    double t = Seconds([&](int i) { bOk = file.WriteFrame(s.frames[i % kVariants].data(), s.w) && bOk; }, nFrames);
    file.Close(TRUE);
    std::remove(path.c_str());
    const char* mode = nMode == rvo::RawFrames ? "raw" : nMode == rvo::PackedFrames ? "packed" : "jpeg";
    double ms = 1e3 * t / nFrames;
    std::printf("%-15s %4dx%-4d  write %-6s %8.3f ms/frame %7.1f frames/s%s\n", contentName, s.w, s.h, mode, ms,
                1e3 / ms, bOk ? "" : "  (A WRITE FAILED)");
}

}  // namespace

int main(int argc, char** argv) {
    DetectSse2();
    std::string dir = argc > 1 ? argv[1] : ".";
    std::printf("EncoderBench: %d frames per content cycled, SSE2 %s\n", kVariants, g_bSse2 ? "on" : "off");
    const int sizes[][2] = {{1920, 1080}, {720, 486}};
    for (const auto& sz : sizes) {
        int nReps = sz[0] > 1000 ? 60 : 240;
        for (const Content& c : kContents) BenchEncode(MakeFrames(sz[0], sz[1], c), c.name, nReps);
    }
    for (const auto& sz : sizes) {
        int nFrames = sz[0] > 1000 ? 24 : 60;
        for (const Content& c : kContents) {
            FrameSet s = MakeFrames(sz[0], sz[1], c);
            for (int nMode : {(int)rvo::RawFrames, (int)rvo::PackedFrames, (int)rvo::JpegBlobs})
                BenchWrite(s, c.name, nMode, dir, nMode == rvo::JpegBlobs ? nFrames / 4 : nFrames);
        }
    }
    return 0;
}
