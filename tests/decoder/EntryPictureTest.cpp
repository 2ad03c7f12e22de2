// Entry pictures: blobs placed with their zero bands (top-left in mode 3,
// bottom-right in mode 1), blank frames, blobs read from the frame area and
// handed over, still images retried in the movie's folder or shown when their
// blob cannot be read; the placement geometry on its own.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>

#include "codec/JpeEngine.h"
#include "container/BlobFile.h"
#include "container/RvoFile.h"
#include "decoder/PicturePlacement.h"
#include "platform/GlobalMemory.h"
#include "platform/HostImageServices.h"
#include "platform/LastError.h"
#include "plugin/DefaultImageServices.h"
#include "tests/decoder/RecordFiles.h"
#include "tests/support/ImageFiles.h"
#include "tests/support/SyntheticFrames.h"

using namespace dectest;
using rvotest::ScratchPath;
using rvotest::Wide;
using rvotest::WritePng;

namespace {

// A smooth picture (JPEG keeps it within a few levels) whose every row and column differs.
std::vector<uint32_t> Gradient(int w, int h) { return rvotest::MakeFrame(w, h, rvotest::Content::Gradient); }

HGLOBAL MakeBlob(const std::vector<uint32_t>& px, int w, int h) {
    CJpeEngine engine;
    const SIZE s = {w, h};
    return engine.Compress(&s, px.data(), w);
}

// Largest difference of any byte between a picture and the host pixels at (x, y).
int MaxDiff(HostBuffer& host, int x, int y, const std::vector<uint32_t>& px, int w, int h) {
    int worst = 0;
    for (int r = 0; r < h; r++)
        for (int c = 0; c < w; c++) {
            const uint32_t a = *host.At(x + c, y + r), b = px[(size_t)r * w + c];
            for (int k = 0; k < 32; k += 8) worst = std::max(worst, std::abs((int)((a >> k) & 0xFF) - (int)((b >> k) & 0xFF)));
        }
    return worst;
}

bool AllZero(HostBuffer& host, int x, int y, int w, int h) {
    for (uint32_t v : host.Rect(x, y, w, h))
        if (v != 0) return false;
    return true;
}

// The blob's frame-area form: the file marker in place of the magic, no tail bytes.
std::vector<uint8_t> FileForm(HGLOBAL h) {
    const BYTE* p = static_cast<const BYTE*>(GlobalLock(h));
    const size_t n = GlobalSize(h) - JPEG_BLOB_TAIL_BYTES;
    std::vector<uint8_t> v(p, p + n);
    GlobalUnlock(h);
    StoreLe32(v.data(), rvo::kBlobFileMarker);
    return v;
}

// n filler bytes, then the given bytes.
std::vector<uint8_t> Prefixed(size_t n, const std::vector<uint8_t>& bytes) {
    std::vector<uint8_t> v(n + bytes.size(), 0x11);
    std::memcpy(v.data() + n, bytes.data(), bytes.size());
    return v;
}

std::vector<uint8_t> BlobBytes(HGLOBAL h) {
    const BYTE* p = static_cast<const BYTE*>(GlobalLock(h));
    std::vector<uint8_t> v(p, p + GlobalSize(h));
    GlobalUnlock(h);
    return v;
}

}   // namespace

TEST(EntryPicture, SmallerBlobGetsBandsByMode) {
    // A 300 x 200 picture in a 320 x 240 frame, the host rectangle at (7, 5) of a 340 x 250 buffer.
    const std::vector<uint32_t> pic = Gradient(300, 200);
    for (int mode : {3, 1}) {
        SCOPED_TRACE("mode " + std::to_string(mode));
        HGLOBAL hBlob = MakeBlob(pic, 300, 200);
        ASSERT_NE(hBlob, nullptr);
        const std::vector<uint8_t> blob = FileForm(hBlob);
        GlobalFree(hBlob);
        CRvoFile f;
        ASSERT_TRUE(OpenIndexFile(f, ScratchPath("smaller.rvo"), mode, 320, 240, {}, {{.blobFile = blob}}));
        HostBuffer host(340, 250);
        ASSERT_EQ(f.RebuildFrame(0, host.At(7, 5), 340, 240, 320), 1);
        EXPECT_EQ(host.Outside(7, 5, 320, 240), 0);
        const int px = mode == 1 ? 20 : 0, py = mode == 1 ? 40 : 0;
        EXPECT_LE(MaxDiff(host, 7 + px, 5 + py, pic, 300, 200), 12);
        if (mode == 3) {
            EXPECT_TRUE(AllZero(host, 7 + 300, 5, 20, 200)) << "right band";
            EXPECT_TRUE(AllZero(host, 7, 5 + 200, 320, 40)) << "bottom band";
        } else {
            EXPECT_TRUE(AllZero(host, 7, 5 + 40, 20, 200)) << "left band";
            EXPECT_TRUE(AllZero(host, 7, 5, 320, 40)) << "top band";
        }
        // A rectangle narrower and lower than the frame: nothing past it.
        HostBuffer cut(340, 250);
        ASSERT_EQ(f.RebuildFrame(0, cut.At(100, 100), 340, 150, 240), 1);
        EXPECT_EQ(cut.Outside(100, 100, 240, 150), 0);
        // A rectangle of no width writes nothing and still succeeds.
        HostBuffer none(340, 250);
        EXPECT_EQ(f.RebuildFrame(0, none.At(0, 0), 340, 250, 0), 1);
        EXPECT_EQ(none.Outside(0, 0, 0, 0), 0);
    }
}

TEST(EntryPicture, PlacementGeometry) {
    // Frame rectangle (origin, size, mode 1), picture size, destination size ->
    // picture position, clip area, visible part, and whether it decodes in place
    // (destination stride = its width).
    const struct Row {
        const char* name;
        FrameRect frame;
        LONGLONG srcW, srcH, W, H;
        LONGLONG px, py;
        PixelBox clip, visible;
        bool bTouches, bWhole;
    } rows[] = {
        {"mode 3, smaller picture", {0, 0, 320, 240, false}, 300, 200, 320, 240, 0, 0, {0, 0, 320, 240}, {0, 0, 300, 200}, true, false},
        {"mode 1, smaller picture", {0, 0, 320, 240, true}, 300, 200, 320, 240, 20, 40, {0, 0, 320, 240}, {20, 40, 320, 240}, true, false},
        {"mode 1, the frame's size", {0, 0, 32, 24, true}, 32, 24, 32, 24, 0, 0, {0, 0, 32, 24}, {0, 0, 32, 24}, true, true},
        {"origin above-left, cut", {-10, -5, 32, 24, false}, 32, 24, 20, 10, -10, -5, {0, 0, 20, 10}, {0, 0, 20, 10}, true, false},
        {"past the right edge", {50, 0, 32, 24, false}, 32, 24, 40, 30, 50, 0, {50, 0, 50, 24}, {}, false, false},
        {"edge meets the destination", {40, 0, 32, 24, false}, 32, 24, 40, 30, 40, 0, {40, 0, 40, 24}, {40, 0, 40, 24}, true, false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.name);
        const PicturePlacement p = PlacePicture(r.frame, r.srcW, r.srcH, r.W, r.H);
        EXPECT_EQ(p.px, r.px);
        EXPECT_EQ(p.py, r.py);
        EXPECT_EQ(p.bTouches, r.bTouches);
        for (const auto& [got, want] : {std::pair{p.clip, r.clip}, std::pair{p.visible, r.visible}})
            EXPECT_TRUE(got.x0 == want.x0 && got.y0 == want.y0 && got.x1 == want.x1 && got.y1 == want.y1)
                << got.x0 << "," << got.y0 << " - " << got.x1 << "," << got.y1;
        const SIZE s{(LONG)r.srcW, (LONG)r.srcH};
        EXPECT_EQ(IsWholeDestination(r.frame, s, (int)r.W, (int)r.H, -1), r.bWhole);
    }
    // In place needs stride = width, every row, and the host rectangle's whole width.
    const FrameRect f{0, 0, 32, 24, false};
    const SIZE s{32, 24};
    EXPECT_TRUE(IsWholeDestination(f, s, 32, 30, 32));
    EXPECT_FALSE(IsWholeDestination(f, s, 40, 24, -1));
    EXPECT_FALSE(IsWholeDestination(f, s, 32, 23, -1));
    EXPECT_FALSE(IsWholeDestination(f, s, 32, 24, 31));
}

TEST(EntryPicture, BlankFramePaintsTheFrameRectangle) {
    // One entry without blob, blob offset or still image.
    CRvoFile f;
    ASSERT_TRUE(OpenIndexFile(f, ScratchPath("blank.rvo"), 3, 32, 24, {}, {{}}));
    HostBuffer host(50, 40);
    ASSERT_EQ(f.RebuildFrame(-1, host.At(0, 0), 50, 40), 1);
    EXPECT_TRUE(AllZero(host, 0, 0, 32, 24));
    EXPECT_EQ(host.Outside(0, 0, 32, 24), 0);
    // The frame rectangle cut by a smaller destination.
    HostBuffer small(20, 10);
    ASSERT_EQ(f.RebuildFrame(-1, small.At(0, 0), 20, 10), 1);
    EXPECT_TRUE(AllZero(small, 0, 0, 20, 10));
    EXPECT_EQ(small.Outside(0, 0, 20, 10), 0);

    // No blob, no blob offset, not a still image: cannot be rebuilt; out of range neither.
    EXPECT_EQ(f.RebuildFrame(0, host.At(0, 0), 50, 40), 0);
    EXPECT_EQ(f.RebuildFrame(1, host.At(0, 0), 50, 40), 0);
    // Entry index -1 through the reader is the blank frame too.
    HostBuffer viaReader(50, 40);
    ASSERT_EQ(f.ReadFrame(0xFFFFFFFFu, viaReader.At(0, 0), 50, 40, TRUE), 1);
    EXPECT_TRUE(AllZero(viaReader, 0, 0, 32, 24));
}

TEST(EntryPicture, BlobsReadFromTheFrameAreaAndHandedOver) {
    const std::vector<uint32_t> pic = Gradient(40, 30);
    HGLOBAL hOrig = MakeBlob(pic, 40, 30);
    ASSERT_NE(hOrig, nullptr);
    const std::vector<uint8_t> copy = FileForm(hOrig);
    // The blob, then the same bytes with a wrong marker.
    std::vector<uint8_t> area = copy;
    const size_t badAt = 160 + area.size();
    area.insert(area.end(), copy.begin(), copy.end());
    area[badAt - 160] = 0x01;

    CRvoFile f;
    ASSERT_TRUE(OpenIndexFile(f, ScratchPath("blobs.rvo"), 3, 40, 30, area,
                              {{.blobOffset = 160}, {.startFrame = 1, .blobOffset = (uint32_t)badAt}}));

    ASSERT_EQ(f.LoadEntryBlob(0), 1);
    EXPECT_EQ(BlobBytes(f.GetEntry(0)->m_hBlob), BlobBytes(hOrig));
    // Held in memory: the second load keeps the block it has.
    const HGLOBAL hHeld = f.GetEntry(0)->m_hBlob;
    ASSERT_EQ(f.LoadEntryBlob(0), 1);
    EXPECT_EQ(f.GetEntry(0)->m_hBlob, hHeld);

    HostBuffer host(40, 30);
    ASSERT_EQ(f.RebuildFrame(0, host.At(0, 0), 40, 30), 1);
    EXPECT_LE(MaxDiff(host, 0, 0, pic, 40, 30), 12);

    // Handed over, then read again from the frame area.
    HGLOBAL hTaken = f.TakeBlob(0);
    ASSERT_NE(hTaken, nullptr);
    EXPECT_EQ(f.GetEntry(0)->m_hBlob, nullptr);
    ASSERT_EQ(f.LoadEntryBlob(0), 1);
    EXPECT_NE(f.GetEntry(0)->m_hBlob, nullptr);
    EXPECT_EQ(BlobBytes(f.GetEntry(0)->m_hBlob), BlobBytes(hTaken));
    GlobalFree(hTaken);

    // A wrong marker: not loaded, then the entry is neither a blob nor a still image.
    SetLastError(0);
    EXPECT_EQ(f.LoadEntryBlob(1), 0);
    EXPECT_EQ(GetLastError(), (DWORD)ERROR_BAD_FORMAT);
    EXPECT_EQ(f.TakeBlob(1), nullptr);
    EXPECT_EQ(f.RebuildFrame(1, host.At(0, 0), 40, 30), 0);
    GlobalFree(hOrig);
}

TEST(EntryPicture, DamagedBlobCopiesFailCleanly) {
    // A blob that loads and decodes: a flat picture, as 16 x 16 leaves the codec little room.
    HGLOBAL hOrig = MakeBlob(rvotest::MakeFrame(16, 16, rvotest::Content::Flat), 16, 16);
    const std::vector<uint8_t> good = FileForm(hOrig);
    GlobalFree(hOrig);
    auto with = [&](size_t off, uint32_t v) {
        std::vector<uint8_t> b = good;
        StoreLe32(b.data() + off, v);
        return b;
    };
    std::vector<uint8_t> shortHeader(good.begin(), good.begin() + 12);
    std::vector<uint8_t> shortData(good.begin(), good.end() - 1);
    std::vector<uint8_t> junkStreams = good;
    for (size_t i = 20; i < junkStreams.size(); i++) junkStreams[i] = (uint8_t)(i * 7);
    struct Case {
        const char* name;
        std::vector<uint8_t> bytes;
        DWORD error;
        bool bLoads;   // the copy loads, but its streams do not decode
    };
    const Case cases[] = {
        {"colour length near 4 GiB", with(12, 0xFFFFFFF0u), ERROR_INVALID_DATA, false},
        {"lengths sum past 32 bits", with(16, 0xFFFFFF00u), ERROR_INVALID_DATA, false},
        {"streams past the end of the file", with(12, (uint32_t)good.size()), ERROR_INVALID_DATA, false},
        {"file ends inside the header", shortHeader, ERROR_HANDLE_EOF, false},
        {"file ends inside the streams", shortData, ERROR_INVALID_DATA, false},
        {"streams are not JPEG", junkStreams, 0, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = ScratchPath("badblob.rvo");
        rvotest::WriteAll(path, Prefixed(160, c.bytes));
        CFile raw;
        ASSERT_TRUE(raw.Open(Wide(path).c_str(), CFile::modeRead));
        raw.Seek(160, CFile::begin);
        HGLOBAL h = nullptr;
        SetLastError(0);
        EXPECT_EQ(ReadBlobFromFile(&raw, &h) != 0, c.bLoads);
        if (!c.bLoads) {
            EXPECT_EQ(h, nullptr);
            EXPECT_EQ(GetLastError(), c.error);
        }
        if (h) GlobalFree(h);
        raw.Close();

        CRvoFile f;
        ASSERT_TRUE(OpenIndexFile(f, ScratchPath("badblob-movie.rvo"), 3, 16, 16, c.bytes, {{.blobOffset = 160}}));
        HostBuffer host(16, 16);
        EXPECT_EQ(f.RebuildFrame(0, host.At(0, 0), 16, 16), 0);
        EXPECT_EQ(host.Outside(0, 0, 0, 0), 0);
    }
}

TEST(EntryPicture, StillImagesRetriedInTheMovieFolder) {
    InstallDefaultImageServices();
    std::vector<uint32_t> px(24 * 16);
    for (size_t i = 0; i < px.size(); i++) px[i] = 0xFF000000u | (uint32_t)(i * 2654435761u >> 8);
    const std::string png = ScratchPath("still.png");
    ASSERT_TRUE(WritePng(png, px, 24, 16));
    const std::string movie = ScratchPath("movie.rvo");
    // Entry 4 names a blob in the frame area that cannot be read (zero bytes, no
    // marker): it shows its still, as an entry without a blob does.
    const char* names[] = {nullptr, "/no/such/folder/still.png", "C:\\Pictures\\still.png", "still.png", nullptr,
                           "/no/such/folder/other.png"};
    const int nStills = (int)(sizeof names / sizeof names[0]);
    std::vector<fixture::Record> records;
    for (int i = 0; i < nStills; i++) {
        const std::string name = names[i] ? names[i] : png;
        records.push_back({.kind = rvo::kKindStillImage, .name = Wide(name), .startFrame = i});
    }
    records[4].blobOffset = 160 + 40;
    CRvoFile f;
    ASSERT_TRUE(OpenIndexFile(f, movie, 2, 24, 16, std::vector<uint8_t>(200, 0), records));
    for (int i = 0; i < nStills; i++) {
        SCOPED_TRACE(i);
        HostBuffer host(30, 20);
        const int r = f.RebuildFrame(i, host.At(2, 1), 30, 17, 26);
        if (i == nStills - 1) {
            EXPECT_EQ(r, 0);
            continue;
        }
        ASSERT_EQ(r, 1);
        EXPECT_EQ(host.Rect(2, 1, 24, 16), px);
        EXPECT_EQ(host.Outside(2, 1, 24, 16), 0);
    }
    // Without image services a still image cannot be read.
    SetReadImageFunc(nullptr);
    HostBuffer host(30, 20);
    EXPECT_EQ(f.RebuildFrame(0, host.At(0, 0), 30, 20), 0);
    InstallDefaultImageServices();
}
