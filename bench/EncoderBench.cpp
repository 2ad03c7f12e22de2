// Times the packed-record encoder against a plain memcpy of the same frames in
// the same run, and the raw, packed and JPEG write paths of the frame writer.
// Usage: EncoderBench [folder for scratch files, default .]
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "container/PackedRecord.h"
#include "container/RvoFile.h"
#include "decoder/PackedDecode.h"
#include "encoder/PackedBuilder.h"
#include "platform/CString.h"
#include "platform/Cpu.h"
#include "platform/RawFile.h"
#include "tests/support/Movies.h"
#include "tests/support/SyntheticFrames.h"

namespace {

using rvotest::Content;

constexpr int kVariants = 4;   // frames per content, cycled so caches see a stream
constexpr Content kContents[] = {Content::Graphics, Content::Natural, Content::Noise};

struct FrameSet {
    int w, h;
    std::vector<std::vector<DWORD>> frames;
    FrameSet(int cx, int cy, Content c) : w(cx), h(cy) {
        for (int v = 0; v < kVariants; ++v) frames.push_back(rvotest::MakeFrame(w, h, c, (uint32_t)v));
    }
    const DWORD* Frame(int i) const { return frames[(size_t)(i % kVariants)].data(); }
    size_t Bytes() const { return 4 * (size_t)w * h; }
};

// Every frame of the set comes back from its record; the mean record size in nTotal.
bool Verify(const FrameSet& s, BYTE* pRecord, ULONGLONG& nTotal) {
    std::vector<DWORD> back((size_t)s.w * s.h);
    const SIZE size{s.w, s.h};
    nTotal = 0;
    for (const auto& f : s.frames) {
        const DWORD n = BuildPackedRecord(pRecord, f.data(), s.w, size);
        if (!n || !CheckPackedRecord(pRecord, (DWORD)back.size(), n)) return false;
        DecodePackedRecord(pRecord, back.data());
        if (back != f) return false;
        nTotal += n;
    }
    return true;
}

void BenchEncode(const FrameSet& s, Content c) {
    const size_t nCap = (size_t)rvo::MaxPackedRecordBytes((ULONGLONG)s.w * s.h);
    BYTE* pRecord = static_cast<BYTE*>(AllocAligned(nCap));
    BYTE* pCopy = static_cast<BYTE*>(AllocAligned(nCap));
    char label[80];
    std::snprintf(label, sizeof label, "%-15s %4dx%-4d packed", rvotest::ContentName(c), s.w, s.h);
    ULONGLONG nTotal = 0;
    if (rvobench::Verified(Verify(s, pRecord, nTotal), label, "round trip failed")) {
        const SIZE size{s.w, s.h};
        const rvobench::Timing t =
            rvobench::Time([&](int i) { BuildPackedRecord(pRecord, s.Frame(i), s.w, size); },
                           [&](int i) { std::memcpy(pCopy, s.Frame(i), s.Bytes()); });
        rvo::PackedRecordHeader h;
        std::memcpy(&h, pRecord, sizeof h);
        char note[80];
        std::snprintf(note, sizeof note, "record %u bytes (%.0f%%, %s)", h.recordBytes,
                      100.0 * (double)nTotal / kVariants / (double)s.Bytes(), rvobench::PackedTypeName(h.tag));
        rvobench::PrintRow(label, t, s.Bytes(), "memcpy", note);
    }
    FreeAligned(pRecord);
    FreeAligned(pCopy);
}

// The frames written through the frame writer and read back: every frame of
// the lossless modes exactly, every frame of the JPEG mode decodes.
bool VerifyWrite(const FrameSet& s, LONG nMode, const std::string& path) {
    if (!rvotest::WriteMovie(path, nMode, s.w, s.h, s.frames)) return false;
    CRvoFile r;
    bool bOk = rvotest::OpenMovie(r, path) && r.GetFrameCount() == kVariants;
    std::vector<DWORD> back((size_t)s.w * s.h);
    for (int i = 0; bOk && i < kVariants; i++) {
        bOk = r.ReadFrame((unsigned)r.LocateFrame((unsigned)i), back.data(), s.w, s.h, TRUE) != 0;
        bOk = bOk && (nMode == rvo::JpegBlobs || back == s.frames[(size_t)i]);
    }
    r.Close(FALSE);
    return bOk;
}

// One file written through the frame writer, as the host does it.
void BenchWrite(const FrameSet& s, Content c, LONG nMode, const std::string& dir, int nFrames) {
    const std::string path = dir + "/encoder-bench.rvo";
    const char* mode = nMode == rvo::RawFrames ? "raw" : nMode == rvo::PackedFrames ? "packed"
                                                                                    : "jpeg";
    char label[80];
    std::snprintf(label, sizeof label, "%-15s %4dx%-4d write %s", rvotest::ContentName(c), s.w, s.h, mode);
    const bool bVerified =
        rvobench::Verified(VerifyWrite(s, nMode, path), label, "the written frames do not read back");
    std::remove(path.c_str());
    if (!bVerified) return;
    CRvoFile file;
    const SIZE size{s.w, s.h};
    if (!file.Create(FromUtf8(path).c_str(), nMode, &size)) {
        std::printf("cannot create %s\n", path.c_str());
        return;
    }
    bool bOk = true;
    // One round of exactly nFrames frames: the file grows with every call.
    const rvobench::Rounds once{1, 0, nFrames, nFrames};
    const rvobench::Timing t =
        rvobench::Time([&](int i) { bOk = file.WriteFrame(s.Frame(i), s.w) && bOk; }, nullptr, once);
    file.Close(TRUE);
    std::remove(path.c_str());
    rvobench::PrintRow(label, t, s.Bytes(), "", bOk ? "" : "(A WRITE FAILED)");
}

}   // namespace

int main(int argc, char** argv) {
    DetectSse2();
    const std::string dir = argc > 1 ? argv[1] : ".";
    std::printf("EncoderBench: %d frames per content cycled, SSE2 %s\n", kVariants, g_bSse2 ? "on" : "off");
    const int sizes[][2] = {{1920, 1080}, {720, 486}};
    for (const auto& sz : sizes)
        for (Content c : kContents) BenchEncode(FrameSet(sz[0], sz[1], c), c);
    for (const auto& sz : sizes) {
        const int nFrames = sz[0] > 1000 ? 24 : 60;
        for (Content c : kContents) {
            const FrameSet s(sz[0], sz[1], c);
            for (LONG nMode : {(LONG)rvo::RawFrames, (LONG)rvo::PackedFrames, (LONG)rvo::JpegBlobs})
                BenchWrite(s, c, nMode, dir, nMode == rvo::JpegBlobs ? nFrames / 4 : nFrames);
        }
    }
    return 0;
}
