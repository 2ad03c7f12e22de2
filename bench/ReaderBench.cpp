// Times the frame reader at 1920 x 1080: packed-record decoding alone against a
// plain memcpy of the same frames, then whole frame reads in every mode from
// files on disk, and ffmpeg's qtrle decoder on the same frames when ffmpeg is
// on the PATH. Ratios are against the memcpy measured in the same run.
// Usage: ReaderBench [folder for scratch files, default .]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "container/PackedRecord.h"
#include "container/RvoFile.h"
#include "decoder/PackedDecode.h"
#include "platform/RawFile.h"
#include "tests/support/Movies.h"
#include "tests/support/SyntheticFrames.h"

namespace {

using rvotest::Content;

constexpr int kW = 1920, kH = 1080;
constexpr int kVariants = 4;   // frames per content, cycled so caches see a stream
constexpr size_t kPixels = (size_t)kW * kH;
constexpr size_t kFrameBytes = 4 * kPixels;

using Frame = std::vector<DWORD>;

std::vector<Frame> MakeFrames(Content c) {
    std::vector<Frame> frames;
    for (int v = 0; v < kVariants; v++) frames.push_back(rvotest::MakeFrame(kW, kH, c, (uint32_t)v));
    return frames;
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

// ffmpeg's qtrle decoder on the same frames, every frame a key frame, one
// thread: seconds per frame, 0 without ffmpeg.
double QtrleSeconds(const std::vector<Frame>& frames, const std::string& dir) {
    if (std::system("command -v ffmpeg >/dev/null 2>&1") != 0) return 0;
    const std::string raw = dir + "/reader-bench.bgra", mov = dir + "/reader-bench.mov";
    FILE* f = std::fopen(raw.c_str(), "wb");
    if (!f) return 0;
    for (const Frame& fr : frames) std::fwrite(fr.data(), 4, fr.size(), f);
    std::fclose(f);
    const std::string enc = "ffmpeg -v error -y -f rawvideo -pix_fmt bgra -s 1920x1080 -i " + raw +
                            " -c:v qtrle -g 1 " + mov;
    const bool bEncoded = std::system(enc.c_str()) == 0;
    std::remove(raw.c_str());
    if (!bEncoded) return 0;
    constexpr int kLoops = 15;
    const std::string dec = "ffmpeg -v error -threads 1 -stream_loop " + std::to_string(kLoops - 1) + " -i " + mov +
                            " -f null - 2>/dev/null";
    bool bOk = true;
    // One timed run of the whole decode after a warm-up run: a call starts a process.
    const rvobench::Rounds once{1, 0, 1, 1};
    const rvobench::Timing t = rvobench::Time([&](int) { bOk = std::system(dec.c_str()) == 0 && bOk; }, nullptr, once);
    std::remove(mov.c_str());
    return bOk ? t.dSeconds / (kLoops * (double)frames.size()) : 0;
}

// Reads and decodes one content's frames every way; false when a check fails.
bool BenchContent(Content c, const std::string& dir, DWORD* pDst) {
    const std::vector<Frame> frames = MakeFrames(c);
    auto copy = [&](int i) { std::memcpy(pDst, frames[(size_t)(i % kVariants)].data(), kFrameBytes); };
    std::printf("%s\n", rvotest::ContentName(c));
    const rvobench::Timing base = rvobench::Time(copy);
    rvobench::PrintRow("memcpy of the frame (baseline)", {base.dSeconds, base.dSeconds}, kFrameBytes, "memcpy");

    // Packed records decoded from memory: the byte shuffle alone.
    const std::string packed = dir + "/reader-bench-5.rvo";
    std::vector<BYTE*> recs;
    if (rvotest::WriteMovie(packed, rvo::PackedFrames, kW, kH, frames)) recs = LoadRecords(packed);
    bool bOk = recs.size() == (size_t)kVariants;
    for (int i = 0; bOk && i < kVariants; i++) {
        bOk = CheckPackedRecord(recs[i], (DWORD)kPixels, (DWORD)rvo::MaxPackedRecordBytes(kPixels));
        DecodePackedRecord(recs[i], pDst);
        bOk = bOk && std::memcmp(pDst, frames[(size_t)i].data(), kFrameBytes) == 0;
    }
    if (!rvobench::Verified(bOk, "packed records", "they do not decode to the frames")) {
        for (BYTE* p : recs) FreeAligned(p);
        return false;
    }
    const rvo::PackedRecordHeader h0 = ReadPackedRecordHeader(recs[0]);
    char what[80];
    std::snprintf(what, sizeof what, "decode packed (%s, %.0f%% size)", rvobench::PackedTypeName(h0.tag),
                  100.0 * h0.recordBytes / (double)kFrameBytes);
    rvobench::PrintRow(what, rvobench::Time([&](int i) { DecodePackedRecord(recs[(size_t)(i % kVariants)], pDst); }, copy),
                       kFrameBytes, "memcpy");
    rvobench::PrintRow("check + decode packed",
                       rvobench::Time([&](int i) {
                           BYTE* p = recs[(size_t)(i % kVariants)];
                           CheckPackedRecord(p, (DWORD)kPixels, (DWORD)rvo::MaxPackedRecordBytes(kPixels));
                           DecodePackedRecord(p, pDst);
                       },
                                      copy),
                       kFrameBytes, "memcpy");
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
            m.mode == rvo::PackedFrames ? packed : dir + "/reader-bench-" + std::to_string(m.mode) + ".rvo";
        CRvoFile r;
        bool bRead = (m.mode == rvo::PackedFrames || rvotest::WriteMovie(path, m.mode, kW, kH, frames)) &&
                     rvotest::OpenMovie(r, path);
        // Every frame reads before any is timed; the lossless modes give the frame back.
        for (int i = 0; bRead && i < kVariants; i++) {
            bRead = r.ReadFrame((unsigned)r.LocateFrame((unsigned)i), pDst, kW, kH, TRUE) != 0;
            const bool bLossless = m.mode != rvo::JpegBlobs;
            bRead = bRead && (!bLossless || std::memcmp(pDst, frames[(size_t)i].data(), kFrameBytes) == 0);
        }
        if (rvobench::Verified(bRead, m.name, "the written movie does not read back")) {
            int nFailed = 0;
            const rvobench::Timing t = rvobench::Time([&](int i) {
                nFailed += !r.ReadFrame((unsigned)r.LocateFrame((unsigned)(i % kVariants)), pDst, kW, kH, TRUE);
            },
                                                      copy);
            rvobench::PrintRow(m.name, t, kFrameBytes, "memcpy");
            if (nFailed) std::printf("  %s: %d reads failed\n", m.name, nFailed);
        }
        r.Close(FALSE);
        std::remove(path.c_str());
        bOk = bOk && bRead;
    }

    const double qtrle = QtrleSeconds(frames, dir);
    if (qtrle > 0) {
        rvobench::PrintRow("ffmpeg qtrle decode (-threads 1)", {qtrle, base.dSeconds}, kFrameBytes, "memcpy");
    } else {
        std::printf("  ffmpeg qtrle peer: ffmpeg not found, skipped\n");
    }
    return bOk;
}

}   // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    DWORD* pDst = static_cast<DWORD*>(AllocAligned(kFrameBytes));
    std::printf("ReaderBench: %d x %d, %d frames per content cycled\n", kW, kH, kVariants);
    bool bOk = true;
    for (Content c : {Content::Graphics, Content::Natural}) bOk = BenchContent(c, dir, pDst) && bOk;
    FreeAligned(pDst);
    return bOk ? 0 : 1;
}
