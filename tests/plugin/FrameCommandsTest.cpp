// Commands 7 and 8 against real files: how many frames a duration admits, which
// frame a time shows, clipping to the host buffer, and the same-entry rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>

#include "container/BlobFile.h"
#include "platform/LastError.h"
#include "tests/plugin/PluginTestHost.h"
#include "tests/support/Movies.h"
#include "tests/support/SyntheticFrames.h"

using namespace plugintest;
using rvotest::ScratchPath;

namespace {

constexpr DWORD kSentinel = 0xDEADBEEFu;
constexpr LONG kW = 4, kH = 2;

// Pixel (x, y) of frame k: every frame and position differ.
DWORD FramePixel(int k, int x, int y) { return 0x40000000u | ((DWORD)k << 16) | ((DWORD)y << 8) | (DWORD)x; }

struct HostBuffer {
    std::vector<DWORD> px;
    HostFrameBuffer buf{};
    HostBuffer(LONG w, LONG h, LONG stride) : px((size_t)stride * h, kSentinel) {
        buf.nWidth = w;
        buf.nHeight = h;
        buf.nStride = stride;
        buf.pPixels = px.data();
    }
    DWORD At(int x, int y) const { return px[(size_t)y * buf.nStride + x]; }
    void Fill() { std::fill(px.begin(), px.end(), kSentinel); }
    bool Untouched() const {
        return std::all_of(px.begin(), px.end(), [](DWORD p) { return p == kSentinel; });
    }
};

class FrameCommands : public ::testing::TestWithParam<LONG> {};
// Raw and packed frames come back exactly.
class LosslessFrames : public ::testing::TestWithParam<LONG> {};

// dTotalDuration = 10 field durations: frames 0-5 are taken, the seventh is refused.
TEST_P(FrameCommands, TenFieldsAdmitSixFrames) {
    LONG compression = GetParam();
    const LONG w = 32, h = 16;
    std::string path = ScratchPath("six" + std::to_string(compression) + ".rvo");
    Host host;
    ASSERT_EQ(host.Create(path, compression, w, h, 10.0), 0);
    HostBuffer src(w, h, w + 3);
    host.in->pSrc = &src.buf;
    for (int k = 0; k < 6; k++) {
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) src.px[(size_t)y * src.buf.nStride + x] = FramePixel(k, x, y);
        EXPECT_EQ(host.Run(CMD_WRITE_FRAME), 0) << "frame " << k;
    }
    EXPECT_EQ(host.Run(CMD_WRITE_FRAME), 2);
    EXPECT_EQ(host.Run(CMD_WRITE_FRAME), 2);
    EXPECT_EQ(host.handle->m_nCurrentFrame, 7);
    EXPECT_EQ(host.Close(), 0);

    Host q;
    q.SetPath(path);
    q.in->dFieldDuration = 0.5;
    ASSERT_EQ(q.Run(CMD_GET_FILE_INFO), 0);
    EXPECT_EQ(q.out->nWidth, w);
    EXPECT_EQ(q.out->nHeight, h);
    EXPECT_EQ(q.out->dDuration, 5.0);   // (6 - 1) frames x 2 fields x 0.5
}

// A raw or packed record that cannot be written (here: past the process's file
// size limit) is reported with 1, its frame number stays free, and the file
// written so far stays readable.
TEST_P(LosslessFrames, FailedRecordIsReported) {
    LONG compression = GetParam();
    std::string path = ScratchPath("limit" + std::to_string(compression) + ".rvo");
    Host h;
    ASSERT_EQ(h.Create(path, compression, kW, kH, 10.0), 0);
    HostBuffer src(kW, kH, kW);
    h.in->pSrc = &src.buf;

    rvotest::FileSizeCap cap(512 + 2 * 512);   // the header block and two one-sector records
    ASSERT_TRUE(cap.Ok());
    int results[3];
    for (int& r : results) r = h.Run(CMD_WRITE_FRAME);
    LONG current = h.handle->m_nCurrentFrame;
    cap.Lift();

    EXPECT_EQ(results[0], 0);
    EXPECT_EQ(results[1], 0);
    EXPECT_EQ(results[2], 1);
    EXPECT_EQ(current, 1);
    EXPECT_EQ(h.Run(CMD_WRITE_FRAME), 0);   // the same frame number, now with room
    EXPECT_EQ(h.handle->m_nCurrentFrame, 2);
    EXPECT_EQ(h.Close(), 0);

    Host q;
    q.SetPath(path);
    q.in->dFieldDuration = 1.0;
    ASSERT_EQ(q.Run(CMD_GET_FILE_INFO), 0);
    EXPECT_EQ(q.out->dDuration, 4.0);   // three frames
}

// A JPEG blob whose end (and so the index offset after it) a 32-bit offset
// cannot address is refused: the writer stores a blob only where it ends by 2^32 - 1.
TEST(JpegFrames, BlobPastWhatTheOffsetsAddressIsRefused) {
    const ULONGLONG nBlob = 3000;
    struct Row {
        ULONGLONG nGapToLimit;                 // bytes left up to 2^32 - 1 after the blob would end
        bool bStored;
    } rows[] = {{0, true}, {1, true}, {~0ull, false}};   // ~0: one byte too many
    for (const Row& row : rows) {
        const ULONGLONG nEnd = row.nGapToLimit == ~0ull ? 0x100000000ull : 0xFFFFFFFFull - row.nGapToLimit;
        EXPECT_EQ(BlobEndAddressable(nEnd - nBlob, nBlob), row.bStored) << row.nGapToLimit;
    }
    EXPECT_FALSE(BlobEndAddressable(0, 0x100000000ull));
    EXPECT_FALSE(BlobEndAddressable(0xFFFFFFFFull, 0xFFFFFFFFFFFFFFFFull));   // no wrap
}

// A JPEG movie keeps every picture twice, in the frame area and in its index
// record: command 7 shows a picture whose one copy is damaged from the other,
// unchanged; with both damaged it shows what decodes and the reader says so.
TEST(JpegFrames, DamagedCopyIsReadFromTheOther) {
    const int w = 160, h = 120;
    std::vector<std::vector<uint32_t>> frames;
    for (uint32_t k = 0; k < 3; k++) frames.push_back(rvotest::MakeFrame(w, h, rvotest::Content::Noise, k));
    const std::string good = ScratchPath("copies.rvo");
    ASSERT_TRUE(rvotest::WriteMovie(good, 3, w, h, frames));
    ULONGLONG nFrameArea = 0, nIndex = 0;
    DWORD nBytes = 0;
    {
        CRvoFile f;
        ASSERT_TRUE(rvotest::OpenMovie(f, good));
        nFrameArea = f.GetEntry(1)->m_dwBlobOffset;
        nIndex = f.GetEntry(1)->m_nIndexBlobAt;
        nBytes = f.GetEntry(1)->m_dwIndexBlobBytes;
    }
    ASSERT_GT(nBytes, 6000u);
    const std::vector<uint8_t> bytes = rvotest::ReadAll(good);

    // Frame 1 through command 7, and the reader's own last error for it.
    auto Show = [&](const std::string& path, DWORD* pdwError) {
        HostBuffer b(w, h, w);
        Host host;
        EXPECT_EQ(host.Open(path), 0);
        host.in->dFieldDuration = 1.0;
        host.in->nDeliveryMode = 2;
        host.in->pDst = &b.buf;
        host.in->rcRegion = RECT{0, 0, w, h};
        host.in->dTime = 2.0;
        EXPECT_EQ(host.Run(CMD_READ_FRAME), 0);
        std::vector<DWORD> scratch((size_t)w * h);
        SetLastError(ERROR_SUCCESS);
        EXPECT_EQ(host.handle->m_pRvoFile->ReadFrame(1, scratch.data(), w, h, TRUE, w), 1);
        *pdwError = GetLastError();
        return b.px;
    };
    DWORD dwError = 0;
    const std::vector<DWORD> want = Show(good, &dwError);
    EXPECT_EQ(dwError, (DWORD)ERROR_SUCCESS);

    struct Row {
        const char* name;
        bool bFrameArea, bIndex;   // which copies get 2,000 zero bytes in their streams
    } rows[] = {{"frame-area copy", true, false}, {"index copy", false, true}, {"both copies", true, true}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        std::vector<uint8_t> damaged = bytes;
        const size_t nAt = nBytes / 2;
        if (row.bFrameArea) std::fill_n(damaged.begin() + (ptrdiff_t)(nFrameArea + nAt), 2000, 0);
        if (row.bIndex) std::fill_n(damaged.begin() + (ptrdiff_t)(nIndex + nAt), 2000, 0);
        const std::string path = ScratchPath("copies-damaged.rvo");
        rvotest::WriteAll(path, damaged);
        const std::vector<DWORD> shown = Show(path, &dwError);
        const bool bBoth = row.bFrameArea && row.bIndex;
        EXPECT_EQ(shown == want, !bBoth);
        EXPECT_EQ(dwError, bBoth ? (DWORD)ERROR_FILE_CORRUPT : (DWORD)ERROR_SUCCESS);
    }
}

// Writes six frames and opens the file for reading.
bool WriteSixAndOpen(Host& h, LONG compression, const std::string& path) {
    {
        Host w;
        if (w.Create(path, compression, kW, kH, 10.0) != 0) return false;
        HostBuffer src(kW, kH, kW);
        w.in->pSrc = &src.buf;
        for (int k = 0; k < 6; k++) {
            for (int y = 0; y < kH; y++)
                for (int x = 0; x < kW; x++) src.px[(size_t)y * kW + x] = FramePixel(k, x, y);
            if (w.Run(CMD_WRITE_FRAME) != 0) return false;
        }
    }
    if (h.Open(path) != 0) return false;
    h.in->dFieldDuration = 1.0;
    h.in->nDeliveryMode = 2;
    return true;
}

::testing::AssertionResult ShowsFrame(const HostBuffer& b, int k, int left, int top) {
    for (int y = 0; y < b.buf.nHeight; y++) {
        for (int x = 0; x < b.buf.nStride; x++) {
            bool inside = x >= left && x < left + kW && y >= top && y < top + kH;
            DWORD want = inside ? FramePixel(k, x - left, y - top) : kSentinel;
            if (b.At(x, y) != want)
                return ::testing::AssertionFailure()
                       << "pixel (" << x << "," << y << ") is " << std::hex << b.At(x, y) << ", want " << want;
        }
    }
    return ::testing::AssertionSuccess();
}

TEST_P(LosslessFrames, TimeSelectsTheFrame) {
    LONG compression = GetParam();
    Host h;
    ASSERT_TRUE(WriteSixAndOpen(h, compression, ScratchPath("times" + std::to_string(compression) + ".rvo")));
    HostBuffer dst(kW, kH, kW);
    h.in->pDst = &dst.buf;
    h.in->rcRegion = RECT{0, 0, kW, kH};
    h.in->dTime = 0.0;
    ASSERT_EQ(h.Run(CMD_READ_FRAME), 0);
    ASSERT_FALSE(dst.Untouched());

    const struct {
        double t;
        int frame;
        LONG current;
    } cases[] = {{0.0, 0, 0}, {0.998, 0, 0}, {4.5, 2, 2}, {5.6, 3, 3}, {1.0, 0, 0}, {4.502, 2, 2}, {9.9, 5, -1}, {100.0, 5, -1}, {3.0, 1, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE("t = " + std::to_string(c.t));
        dst.Fill();
        h.handle->m_nLastDecoded = -1;
        h.in->dTime = c.t;
        EXPECT_EQ(h.Run(CMD_READ_FRAME), 0);
        EXPECT_TRUE(ShowsFrame(dst, c.frame, 0, 0));
        EXPECT_EQ(h.handle->m_nCurrentFrame, c.current);
    }

    // Asking again inside the frame decoded last leaves the host buffer alone.
    h.in->dTime = 4.5;
    EXPECT_EQ(h.Run(CMD_READ_FRAME), 0);
    dst.Fill();
    h.in->dTime = 4.502;
    EXPECT_EQ(h.Run(CMD_READ_FRAME), 0);
    EXPECT_TRUE(dst.Untouched());
    EXPECT_EQ(h.handle->m_nCurrentFrame, 2);
    // Another buffer does not hold it: the frame is decoded into that one.
    HostBuffer other(kW, kH, kW + 3);
    other.Fill();
    h.in->pDst = &other.buf;
    EXPECT_EQ(h.Run(CMD_READ_FRAME), 0);
    EXPECT_TRUE(ShowsFrame(other, 2, 0, 0));
}

TEST_P(LosslessFrames, RegionIsClippedToTheHostBuffer) {
    LONG compression = GetParam();
    Host h;
    ASSERT_TRUE(WriteSixAndOpen(h, compression, ScratchPath("clip" + std::to_string(compression) + ".rvo")));
    HostBuffer dst(8, 4, 9);
    h.in->pDst = &dst.buf;
    h.in->dTime = 2.0;   // frame 1
    h.in->rcRegion = RECT{0, 0, kW, kH};
    ASSERT_EQ(h.Run(CMD_READ_FRAME), 0);
    ASSERT_FALSE(dst.Untouched());

    // Partly outside: the frame lands at the rectangle's top-left inside the buffer.
    dst.Fill();
    h.handle->m_nLastDecoded = -1;
    h.in->rcRegion = RECT{2, 1, 100, 100};
    EXPECT_EQ(h.Run(CMD_READ_FRAME), 0);
    EXPECT_TRUE(ShowsFrame(dst, 1, 2, 1));

    // Entirely outside: an empty rectangle, nothing is written.
    dst.Fill();
    h.handle->m_nLastDecoded = -1;
    h.in->rcRegion = RECT{20, 20, 30, 30};
    EXPECT_EQ(h.Run(CMD_READ_FRAME), 0);
    EXPECT_TRUE(dst.Untouched());
    EXPECT_EQ(h.handle->m_nCurrentFrame, 1);
}

std::string ModeName(const ::testing::TestParamInfo<LONG>& p) {
    return p.param == 1 ? "Jpeg" : p.param == 2 ? "Packed"
                                                : "Raw";
}

INSTANTIATE_TEST_SUITE_P(Modes, FrameCommands, ::testing::Values(1, 0, 2), ModeName);
INSTANTIATE_TEST_SUITE_P(Modes, LosslessFrames, ::testing::Values(0, 2), ModeName);

}   // namespace
