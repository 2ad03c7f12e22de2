// Times the frame reader at 1920 x 1080: packed-record decoding alone against a
// plain memcpy of the same frames, then whole frame reads in every mode from
// files on disk, and ffmpeg's qtrle decoder on the same frames when ffmpeg is
// on the PATH. Ratios are against the memcpy measured in the same run.
// Usage: ReaderBench [folder for scratch files, default .]
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "container/PackedRecord.h"
#include "container/RvoFile.h"
#include "decoder/PackedDecode.h"
#include "platform/CString.h"
#include "platform/RawFile.h"

namespace {

constexpr int kW = 1920, kH = 1080;
constexpr int kVariants = 4;   // frames per content, cycled so caches see a stream
constexpr size_t kPixels = (size_t)kW * kH;

using Frame = std::vector<DWORD>;

DWORD Clamp(int c) { return (DWORD)(c < 0 ? 0 : c > 255 ? 255 : c); }

// Rendered graphics: shapes with soft edges over a transparent ground.
DWORD Graphics(int x, int y, int v, std::mt19937&) {
    const int cx = kW / 3 + v * 16, cy = kH / 2;
    const double d = std::sqrt((double)(x - cx) * (x - cx) + (double)(y - cy) * (y - cy)) - kH / 4.0;
    if (d < 1.0) return ((d <= 0 ? 255u : Clamp((int)(255 * (1.0 - d)))) << 24) | 0x2060C0u;
    if (x > kW / 2 && x < kW - kW / 8 && y > kH / 8 && y < kH / 3 + v)
        return 0xFF000000u | (Clamp(x * 255 / kW) << 16) | 0x8000u;
    if (y > kH - kH / 6 && (x / 24) % 2 == 0) return 0xC0FFFFFFu;
    return 0;
}

// Natural video: smooth light with sensor noise, opaque.
DWORD Natural(int x, int y, int v, std::mt19937& rng) {
    const int n = (int)(rng() % 9) - 4;
    const DWORD b = Clamp(x * 200 / kW + 20 + n), g = Clamp(y * 200 / kH + 30 + n);
    const DWORD r = Clamp((int)(128 + 90 * std::sin((x + 2 * y + 8 * v) * 0.01)) + n);
    return 0xFF000000u | (r << 16) | (g << 8) | b;
}

std::vector<Frame> MakeFrames(DWORD (*pixel)(int, int, int, std::mt19937&)) {
    std::mt19937 rng(7);
    std::vector<Frame> frames(kVariants, Frame(kPixels));
    for (int v = 0; v < kVariants; v++)
        for (int y = 0; y < kH; y++)
            for (int x = 0; x < kW; x++) frames[v][(size_t)y * kW + x] = pixel(x, y, v, rng);
    return frames;
}

// Calls fn(i) for i = 0, 1, ... for at least 0.6 s after one warm-up pass; frames per second.
double Rate(const std::function<void(int)>& fn) {
    for (int i = 0; i < kVariants; i++) fn(i);
    using Clock = std::chrono::steady_clock;
    const auto t0 = Clock::now();
    int n = 0;
    double s = 0;
    do {
        for (int i = 0; i < kVariants; i++, n++) fn(i);
        s = std::chrono::duration<double>(Clock::now() - t0).count();
    } while (s < 0.6);
    return n / s;
}

void Report(const char* what, double fps, double baseline) {
    std::printf("  %-34s %8.1f frames/s %9.1f MB/s   %5.2fx memcpy time\n", what, fps, fps * 4.0 * kPixels / 1e6,
                baseline / fps);
}

std::string WriteMovie(const std::string& path, LONG mode, const std::vector<Frame>& frames) {
    CRvoFile w;
    w.m_nMode = mode;
    if (!w.Create(FromUtf8(path).c_str())) return "";
    const SIZE s = {kW, kH};
    w.SetFrameSize(&s);
    for (const Frame& f : frames)
        if (!w.WriteFrame(f.data(), kW)) return "";
    return w.Close(TRUE) ? path : "";
}

bool OpenMovie(CRvoFile& r, const std::string& path) {
    if (!r.Open(FromUtf8(path).c_str(), 0x20)) return false;
    const SIZE s = {r.m_nWidth, r.m_nHeight};
    r.SetFrameSize(&s);
    r.SetFirstFrame(0);
    return true;
}

// The packed records of a written file, each in its own page-aligned buffer.
std::vector<BYTE*> LoadRecords(const std::string& path) {
    std::vector<BYTE*> recs;
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return recs;
    long off = 512;
    for (int i = 0; i < kVariants; i++) {
        BYTE head[16];
        if (std::fseek(f, off, SEEK_SET) != 0 || std::fread(head, 1, 16, f) != 16) break;
        const rvo::PackedRecordHeader h = ReadPackedRecordHeader(head);
        BYTE* p = static_cast<BYTE*>(AllocAligned(h.recordBytes));
        std::fseek(f, off, SEEK_SET);
        if (std::fread(p, 1, h.recordBytes, f) != h.recordBytes) {
            FreeAligned(p);
            break;
        }
        recs.push_back(p);
        off += (long)h.recordBytes;
    }
    std::fclose(f);
    return recs;
}

const char* TagName(DWORD tag) {
    return tag == rvo::PackedRaw ? "raw" : tag == rvo::PackedAlphaRuns ? "alpha runs" : "colour runs";
}

// ffmpeg's qtrle decoder on the same frames, every frame a key frame, one thread; 0 without ffmpeg.
double QtrleRate(const std::vector<Frame>& frames, const std::string& dir) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) return 0;
    const std::string raw = dir + "/reader-bench.bgra", mov = dir + "/reader-bench.mov";
    FILE* f = std::fopen(raw.c_str(), "wb");
    if (!f) return 0;
    for (const Frame& fr : frames) std::fwrite(fr.data(), 4, fr.size(), f);
    std::fclose(f);
    const std::string enc = "ffmpeg -v error -y -f rawvideo -pix_fmt bgra -s 1920x1080 -i " + raw +
                            " -c:v qtrle -g 1 " + mov;
    if (std::system(enc.c_str()) != 0) return 0;
    constexpr int kLoops = 15;
    const std::string dec = "ffmpeg -v error -threads 1 -stream_loop " + std::to_string(kLoops - 1) + " -i " + mov +
                            " -f null - 2>/dev/null";
    std::system(dec.c_str());   // warm-up
    const auto t0 = std::chrono::steady_clock::now();
    if (std::system(dec.c_str()) != 0) return 0;
    const double s = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
    std::remove(raw.c_str());
    std::remove(mov.c_str());
    return kLoops * (double)frames.size() / s;
}

}  // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    struct Content {
        const char* name;
        std::vector<Frame> frames;
    };
    std::vector<Content> contents = {{"graphics+alpha", MakeFrames(Graphics)}, {"natural video", MakeFrames(Natural)}};
    DWORD* pDst = static_cast<DWORD*>(AllocAligned(4 * kPixels));
    std::printf("ReaderBench: %d x %d, %d frames per content cycled\n", kW, kH, kVariants);

    for (Content& c : contents) {
        std::printf("%s\n", c.name);
        const double memcpyFps = Rate([&](int i) { std::memcpy(pDst, c.frames[i].data(), 4 * kPixels); });
        Report("memcpy of the frame (baseline)", memcpyFps, memcpyFps);

        // Packed records decoded from memory: the byte shuffle alone.
        const std::string packed = WriteMovie(dir + "/reader-bench-5.rvo", rvo::PackedFrames, c.frames);
        std::vector<BYTE*> recs = LoadRecords(packed);
        if (recs.size() != (size_t)kVariants) {
            std::printf("  cannot write or reload the packed movie\n");
            return 1;
        }
        bool bOk = true;
        for (int i = 0; i < kVariants; i++) {
            bOk = bOk && CheckPackedRecord(recs[i], (DWORD)kPixels, (DWORD)rvo::MaxPackedRecordBytes(kPixels));
            DecodePackedRecord(recs[i], pDst);
            bOk = bOk && std::memcmp(pDst, c.frames[i].data(), 4 * kPixels) == 0;
        }
        if (!bOk) {
            std::printf("  packed records do not decode to the frames\n");
            return 1;
        }
        const rvo::PackedRecordHeader h0 = ReadPackedRecordHeader(recs[0]);
        char what[80];
        std::snprintf(what, sizeof what, "decode packed (%s, %.0f%% size)", TagName(h0.tag),
                      100.0 * h0.recordBytes / (4.0 * kPixels));
        Report(what, Rate([&](int i) { DecodePackedRecord(recs[i], pDst); }), memcpyFps);
        Report("check + decode packed", Rate([&](int i) {
                   CheckPackedRecord(recs[i], (DWORD)kPixels, (DWORD)rvo::MaxPackedRecordBytes(kPixels));
                   DecodePackedRecord(recs[i], pDst);
               }),
               memcpyFps);
        for (BYTE* p : recs) FreeAligned(p);

        // Whole reads from files (unbuffered where the file system allows), host stride = width.
        const struct {
            LONG mode;
            const char* name;
        } modes[] = {{rvo::RawFrames, "ReadFrame raw (mode 4)"},
                     {rvo::PackedFrames, "ReadFrame packed (mode 5)"},
                     {rvo::JpegBlobs, "ReadFrame JPEG (mode 3)"}};
        for (const auto& m : modes) {
            const std::string path =
                m.mode == rvo::PackedFrames ? packed
                                            : WriteMovie(dir + "/reader-bench-" + std::to_string(m.mode) + ".rvo",
                                                         m.mode, c.frames);
            CRvoFile r;
            if (path.empty() || !OpenMovie(r, path)) {
                std::printf("  %s: cannot write or open\n", m.name);
                continue;
            }
            int nFailed = 0;
            const double fps = Rate([&](int i) {
                nFailed += !r.ReadFrame((unsigned)r.LocateFrame((unsigned)i), pDst, kW, kH, TRUE);
            });
            Report(m.name, fps, memcpyFps);
            if (nFailed) std::printf("  %s: %d reads failed\n", m.name, nFailed);
            r.Close(FALSE);
            std::remove(path.c_str());
        }

        const double qtrle = QtrleRate(c.frames, dir);
        if (qtrle > 0) Report("ffmpeg qtrle decode (-threads 1)", qtrle, memcpyFps);
        else std::printf("  ffmpeg qtrle peer: ffmpeg not found, skipped\n");
    }
    FreeAligned(pDst);
    return 0;
}
