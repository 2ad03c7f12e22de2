// Files whose writer was killed before command 10: recognised, and rebuilt from
// their whole frames into exactly the file a finished writer leaves.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "recover/Recover.h"
#include "container/RvoFile.h"
#include "container/PackedRecord.h"
#include "platform/RawFile.h"
#include "tests/plugin/PluginTestHost.h"
#include "tests/support/CrashSweep.h"
#include "tests/support/Movies.h"

using namespace plugintest;
using rvotest::DiffBytes;
using rvotest::ReadAll;
using rvotest::ScratchPath;
using rvotest::Wide;
using Bytes = std::vector<uint8_t>;

namespace {

constexpr LONG kW = 64, kH = 48;
constexpr LONG kJpeg = 1, kPacked = 2, kRaw = 0;   // the host's compression choices
constexpr int kFrames = 5;

// A smooth frame (so JPEG takes it) that differs per frame, with soft alpha.
void FillFrame(std::vector<DWORD>& px, int k, LONG w = kW, LONG h = kH) {
    for (LONG y = 0; y < h; y++)
        for (LONG x = 0; x < w; x++) {
            const DWORD b = (DWORD)(x * 3 + k * 20) & 0xFF, g = (DWORD)(y * 4 + k * 7) & 0xFF;
            const DWORD a = x < 16 ? 255u : (DWORD)(128 + y);
            px[(size_t)y * w + x] = (a << 24) | (0x40u << 16) | (g << 8) | b;
        }
}

struct Movie {
    Bytes beforeClose;   // the file as a killed writer leaves it
    Bytes finished;
};

// Frames 0 .. n-1 through commands 6 and 8, the file copied before command 10.
Movie WriteMovie(const std::string& path, LONG nCompression, int n, LONG w = kW, LONG ht = kH) {
    Movie m;
    Host h;
    EXPECT_EQ(h.Create(path, nCompression, w, ht, 100.0), 0);
    std::vector<DWORD> px((size_t)w * ht);
    HostFrameBuffer buf{};
    buf.nWidth = w;
    buf.nHeight = ht;
    buf.nStride = w;
    buf.pPixels = px.data();
    h.in->pSrc = &buf;
    for (int k = 0; k < n; k++) {
        FillFrame(px, k, w, ht);
        EXPECT_EQ(h.Run(CMD_WRITE_FRAME), 0) << "frame " << k;
    }
    m.beforeClose = ReadAll(path);
    EXPECT_EQ(h.Close(), 0);
    m.finished = ReadAll(path);
    return m;
}

// Where each frame of a finished file starts, and where the last one ends.
std::vector<uint64_t> FrameBounds(const std::string& path, uint64_t nRawRecord = 12288) {   // 4 x 64 x 48
    std::vector<uint64_t> v = rvotest::FrameBounds(path, nRawRecord);
    EXPECT_FALSE(v.empty()) << path << " does not open";
    return v;
}

// The mode-3 writer keeps its blobs in memory until command 10; the file it
// would leave when streaming them is the finished frame area under the initial header.
Bytes UnfinishedJpegFile(const Bytes& finished, uint64_t nFrameAreaEnd) {
    Bytes v(finished.begin(), finished.begin() + (ptrdiff_t)nFrameAreaEnd);
    Bytes initial = rvotest::HeaderBytes({.indexOffset = 160, .mode = 3});
    std::copy(initial.begin(), initial.end(), v.begin());
    return v;
}

struct Recovered {
    RvoUnfinished scan;
    Bytes bytes;
    bool ok = false;
};

Recovered Recover(const std::string& in, const SIZE* pSize = nullptr, RecoverDamaged eDamaged = kReplaceDamaged) {
    Recovered r;
    const std::string out = in + ".out";
    std::filesystem::remove(out);
    if (!ScanUnfinished(Wide(in).c_str(), pSize, &r.scan)) return r;
    r.ok = WriteRecovered(Wide(in).c_str(), r.scan, Wide(out).c_str(), eDamaged);
    if (r.ok) r.bytes = ReadAll(out);
    return r;
}

class KilledWriter : public ::testing::TestWithParam<LONG> {};

TEST_P(KilledWriter, RecoversTheFinishedFileByteForByte) {
    const LONG c = GetParam();
    const std::string path = ScratchPath("killed" + std::to_string(c) + ".rvo");
    const Movie m = WriteMovie(path, c, kFrames);
    ASSERT_GT(m.beforeClose.size(), 512u) << "the frames must be on disk before command 10";
    const std::string copy = path + ".copy";
    rvotest::WriteAll(copy, m.beforeClose);
    // The killed file opens as it always did (no frames); only the scan sees what it holds.
    CRvoFile f;
    ASSERT_TRUE(f.Open(Wide(copy).c_str(), CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_EQ(f.GetFrameCount(), 0);
    f.Close(FALSE);

    const Recovered r = Recover(copy);
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.scan.bUnfinished);
    EXPECT_EQ(r.scan.nFrames, (DWORD)kFrames);
    EXPECT_EQ(DiffBytes(m.finished, r.bytes), "");
    EXPECT_EQ(ReadAll(copy), m.beforeClose);   // the input is only read
}

// Cuts at a frame boundary and inside the next frame: every whole frame
// before the cut comes back, the partial one is dropped.
TEST_P(KilledWriter, CutsAtAndInsideFramesKeepTheWholeFrames) {
    const LONG c = GetParam();
    const std::string base = ScratchPath("cut" + std::to_string(c));
    const Movie all = WriteMovie(base + "-all.rvo", c, kFrames);
    const std::vector<uint64_t> bounds = FrameBounds(base + "-all.rvo");
    ASSERT_EQ(bounds.size(), (size_t)kFrames + 1);
    const Bytes unfinished = c == kJpeg ? UnfinishedJpegFile(all.finished, bounds.back()) : all.beforeClose;
    ASSERT_EQ(unfinished.size(), bounds.back());

    Bytes finishedWith[kFrames + 1];
    for (int k : {0, 2, kFrames - 1, kFrames})
        finishedWith[k] = WriteMovie(base + "-" + std::to_string(k) + ".rvo", c, k).finished;

    // k whole frames, then `into` bytes of frame k (blob marker, header, streams; record header, body).
    const struct {
        int k;
        uint64_t into;
    } cuts[] = {{0, 1}, {0, 3}, {0, 19}, {0, 300}, {2, 0}, {2, 4}, {2, 20}, {2, 511}, {kFrames - 1, 512}, {kFrames - 1, 1000}, {kFrames, 0}};
    for (const auto& cut : cuts) {
        const uint64_t at = bounds[(size_t)cut.k] + cut.into;
        if (cut.k < kFrames && at >= bounds[(size_t)cut.k + 1]) continue;   // the frame is shorter
        SCOPED_TRACE("cut after frame " + std::to_string(cut.k) + " + " + std::to_string(cut.into));
        const std::string copy = base + "-copy.rvo";
        rvotest::WriteAll(copy, Bytes(unfinished.begin(), unfinished.begin() + (ptrdiff_t)at));
        const Recovered r = Recover(copy);
        ASSERT_TRUE(r.ok);
        EXPECT_EQ(r.scan.nFrames, (DWORD)cut.k);
        EXPECT_EQ(r.scan.nFramesEnd, bounds[(size_t)cut.k]);
        if (!finishedWith[cut.k].empty()) {
            EXPECT_EQ(DiffBytes(finishedWith[cut.k], r.bytes), "");
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Modes, KilledWriter, ::testing::Values(kJpeg, kRaw, kPacked),
                         [](const auto& info) {
                             return std::string(info.param == kJpeg ? "Jpeg" : info.param == kRaw ? "Raw"
                                                                                                  : "Packed");
                         });

// Every frame of a file, decoded; empty when it does not open.
std::vector<std::vector<DWORD>> DecodeAll(const std::string& path, LONG w = kW, LONG h = kH, bool bMustRead = true) {
    std::vector<std::vector<DWORD>> v;
    CRvoFile f;
    if (!f.Open(Wide(path).c_str(), CFile::modeRead | CFile::shareDenyWrite)) return v;
    const SIZE size{w, h};
    f.SetFrameSize(&size);
    f.SetFirstFrame(0);
    for (int k = 0; k < f.GetFrameCount(); k++) {
        std::vector<DWORD> px((size_t)w * h, 0xDEADBEEF);
        const BOOL bRead = f.ReadFrame((unsigned)k, px.data(), w, h, TRUE, w);
        if (bMustRead) {
            EXPECT_TRUE(bRead) << path << " frame " << k;
        }
        v.push_back(px);
    }
    return v;
}

// A damaged frame costs that frame only: the walk goes on at the next frame
// that counts, and the damaged frame's place holds the previous whole frame
// (a transparent frame for the first), or it is left out.
TEST_P(KilledWriter, DamagedFramesKeepTheirPlaces) {
    const LONG c = GetParam();
    if (c == kRaw) GTEST_SKIP() << "raw records carry no check";
    const std::string base = ScratchPath("damaged" + std::to_string(c));
    const Movie all = WriteMovie(base + "-all.rvo", c, kFrames);
    const std::vector<uint64_t> bounds = FrameBounds(base + "-all.rvo");
    const std::vector<std::vector<DWORD>> want = DecodeAll(base + "-all.rvo");
    ASSERT_EQ(want.size(), (size_t)kFrames);
    const Bytes unfinished = c == kJpeg ? UnfinishedJpegFile(all.finished, bounds.back()) : all.beforeClose;
    // Damage: the tag or marker, the whole record or blob header, 16 bytes at the middle.
    const struct {
        uint64_t at;   // from the frame's start; ~0: its middle
        size_t bytes;
    } damages[] = {{0, 4}, {0, 16}, {0, 20}, {~0ull, 16}};
    for (int d : {0, 2, kFrames - 2}) {
        for (const auto& dmg : damages) {
            const uint64_t at = bounds[(size_t)d] + (dmg.at == ~0ull ? (bounds[(size_t)d + 1] - bounds[(size_t)d]) / 2 : dmg.at);
            SCOPED_TRACE("frame " + std::to_string(d) + ", " + std::to_string(dmg.bytes) + " bytes at " + std::to_string(at));
            Bytes file = unfinished;
            std::fill(file.begin() + (ptrdiff_t)at, file.begin() + (ptrdiff_t)(at + dmg.bytes), 0xFF);
            const std::string copy = base + "-copy.rvo";
            rvotest::WriteAll(copy, file);
            const Recovered r = Recover(copy);
            ASSERT_TRUE(r.ok);
            if (dmg.at == ~0ull && r.scan.nDamaged == 0) continue;   // bytes the checks cannot see (JPEG data, run patterns)
            EXPECT_EQ(r.scan.nFrames, (DWORD)kFrames - 1);
            ASSERT_EQ(r.scan.frames.size(), (size_t)kFrames);
            EXPECT_TRUE(r.scan.frames[(size_t)d].bDamaged);
            EXPECT_EQ(r.scan.nFramesEnd, bounds.back());
            std::vector<std::vector<DWORD>> got = DecodeAll(copy + ".out");
            ASSERT_EQ(got.size(), (size_t)kFrames);
            for (int k = 0; k < kFrames; k++) {
                const std::vector<DWORD> expected =
                    k != d ? want[(size_t)k] : d > 0 ? want[(size_t)d - 1]
                                                     : std::vector<DWORD>((size_t)kW * kH, 0);
                if (k == d && d == 0 && c == kJpeg) {   // a transparent JPEG frame: alpha 0 throughout
                    for (DWORD px : got[0]) ASSERT_EQ(px >> 24, 0u);
                    continue;
                }
                EXPECT_TRUE(got[(size_t)k] == expected) << "frame " << k;
            }
            const Recovered dropped = Recover(copy, nullptr, kDropDamaged);
            ASSERT_TRUE(dropped.ok);
            got = DecodeAll(copy + ".out");
            ASSERT_EQ(got.size(), (size_t)kFrames - 1);
            for (int k = 0, j = 0; k < kFrames; k++)
                if (k != d) {
                    EXPECT_TRUE(got[(size_t)j++] == want[(size_t)k]) << "frame " << k;
                }
        }
    }
}

// A writer that crashes at any point (tests/support/CrashSweep.h), at every
// write and byte of a small movie in each mode.
TEST(Recover, EveryCrashPointKeepsTheWholeFrames) {
    for (LONG nMode : {3, 4, 5}) {
        const int w = nMode == 3 ? 24 : 8, h = w;   // about the smallest JPEG pictures; one record unit
        rvotest::CrashMovie m;
        bool bHooked = false;
        const bool bMade = rvotest::MakeCrashMovie(nMode, w, h, 2, rvotest::MemoryScratchPath("crash" + std::to_string(nMode)), &m, &bHooked);
        if (!bHooked) GTEST_SKIP() << "no crash point hook on this platform";
        ASSERT_TRUE(bMade);
        for (bool bBytes : {false, true}) {
            rvotest::CrashCounts c;
            for (ULONGLONG k = 0; k <= (bBytes ? m.nBytes : m.nWrites); k++) {
                const std::string strFailure = rvotest::CheckCrashPoint(m, bBytes, k, &c);
                ASSERT_EQ(strFailure, "") << "mode " << nMode << ", crash at " << (bBytes ? "byte " : "write ") << k;
            }
            std::printf("mode %ld: %lld crash points by %s, %lld left a finished file, %lld a torn final header\n",
                        (long)nMode, c.nPoints, bBytes ? "byte" : "write", c.nFinished, c.nTorn);
            EXPECT_GE(c.nFinished, 1);
        }
    }
}

// Crash points drawn at random over a longer movie of larger frames; the long
// sweep is rvo_fuzz_replay --crash-sweep and the fuzz target crash_point.
TEST(Recover, RandomCrashPointsOverALongerMovie) {
    for (LONG nMode : {3, 4, 5}) {
        rvotest::CrashMovie m;
        bool bHooked = false;
        const bool bMade = rvotest::MakeCrashMovie(nMode, 96, 64, 12, rvotest::MemoryScratchPath("crashlong" + std::to_string(nMode)), &m, &bHooked);
        if (!bHooked) GTEST_SKIP() << "no crash point hook on this platform";
        ASSERT_TRUE(bMade);
        std::mt19937_64 rng((uint64_t)nMode);
        rvotest::CrashCounts c;
        for (int i = 0; i < 40; i++) {
            const ULONGLONG k = rng() % (m.nBytes + 1);
            ASSERT_EQ(rvotest::CheckCrashPoint(m, true, k, &c), "") << "mode " << nMode << ", crash at byte " << k;
        }
    }
}

// Finished files and files without frames are not unfinished, whatever their mode.
TEST(Recover, FinishedFilesAreNotUnfinished) {
    for (LONG c : {kJpeg, kRaw, kPacked}) {
        for (int n : {0, 2}) {
            const std::string path = ScratchPath("done" + std::to_string(c) + "-" + std::to_string(n) + ".rvo");
            WriteMovie(path, c, n);
            RvoUnfinished s;
            ASSERT_TRUE(ScanUnfinished(Wide(path).c_str(), nullptr, &s));
            EXPECT_FALSE(s.bUnfinished) << c << " " << n;
            EXPECT_FALSE(WriteRecovered(Wide(path).c_str(), s, Wide(path + ".out").c_str()));
        }
    }
}

// Without the frame-size record a raw file cannot be counted until the size is
// given; a given size that disagrees with a recorded one is refused.
TEST(Recover, FrameSizeFromTheRecordOrTheCaller) {
    const std::string path = ScratchPath("nosize.rvo");
    const Movie m = WriteMovie(path, kRaw, 3);
    Bytes bare = m.beforeClose;
    std::fill(bare.begin() + 160, bare.begin() + 512, 0);
    rvotest::WriteAll(path + ".bare", bare);
    rvotest::WriteAll(path + ".copy", m.beforeClose);

    const Recovered blind = Recover(path + ".bare");
    EXPECT_TRUE(blind.scan.bUnfinished);
    EXPECT_FALSE(blind.scan.bCounted);
    EXPECT_FALSE(blind.ok);
    const SIZE size{kW, kH}, wrong{kH, kW};
    const Recovered given = Recover(path + ".bare", &size);
    ASSERT_TRUE(given.ok);
    EXPECT_EQ(DiffBytes(m.finished, given.bytes), "");
    EXPECT_TRUE(Recover(path + ".copy", &size).ok);
    EXPECT_FALSE(Recover(path + ".copy", &wrong).ok);
}

// Readers take nothing from bytes 160-511 of the header block: any content
// there leaves every frame as it was.
TEST(Recover, ReadersIgnoreTheRestOfTheHeaderBlock) {
    for (LONG c : {kRaw, kPacked}) {
        const std::string path = ScratchPath("block" + std::to_string(c) + ".rvo");
        Bytes file = WriteMovie(path, c, 3).finished;
        for (size_t i = 160; i < 512; i++) file[i] = (uint8_t)(0xA5 ^ i);
        rvotest::WriteAll(path + ".noise", file);
        CRvoFile a, b;
        ASSERT_TRUE(a.Open(Wide(path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
        ASSERT_TRUE(b.Open(Wide(path + ".noise").c_str(), CFile::modeRead | CFile::shareDenyWrite));
        ASSERT_EQ(b.GetFrameCount(), 3);
        const SIZE size{kW, kH};
        for (CRvoFile* f : {&a, &b}) {
            f->SetFrameSize(&size);
            f->SetFirstFrame(0);
        }
        std::vector<DWORD> pa((size_t)kW * kH), pb((size_t)kW * kH, 1);
        for (unsigned k = 0; k < 3; k++) {
            ASSERT_TRUE(a.ReadFrame(k, pa.data(), kW, kH, TRUE, kW));
            ASSERT_TRUE(b.ReadFrame(k, pb.data(), kW, kH, TRUE, kW));
            EXPECT_EQ(pa, pb) << "frame " << k;
        }
    }
}

}   // namespace
