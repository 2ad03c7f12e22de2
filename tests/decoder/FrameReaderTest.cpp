// The frame reader on hand-built files: entry lookup with runs and gaps, raw
// and packed records into host rectangles, and damaged tables and records.
#include <gtest/gtest.h>

#include <random>

#include "container/RvoFile.h"
#include "platform/LastError.h"
#include "tests/decoder/RecordFiles.h"

using namespace dectest;
using rvotest::ScratchPath;

namespace {

// 13 x 7 frames (91 pixels: the last group holds 3) in all three record types.
struct PackedMovie {
    static constexpr LONG cx = 13, cy = 7;
    std::vector<std::vector<uint32_t>> frames;
    std::vector<std::vector<uint8_t>> recs;
    PackedMovie() {
        std::mt19937 rng(42);
        const RunFrame a = AlphaRunFrame(cx * cy, 6, rng);
        const RunFrame c = ColourRunFrame(cx * cy, 30, rng);
        std::vector<uint32_t> raw(cx * cy);
        for (auto& p : raw) p = (uint32_t)rng();
        frames = {raw, a.pixels, c.pixels};
        recs = {RawRecord(raw), AlphaRunRecord(a, true, rng), ColourRunRecord(c)};
    }
};

}   // namespace

TEST(FrameReader, LocateFrameWithRunsAndGaps) {
    // Entries: single frame 0; run 2-4; single frame 7 (-1 as last frame). Frame count 8.
    CRvoFile f;
    ASSERT_TRUE(OpenIndexFile(f, ScratchPath("runs.rvo"), rvo::JpegBlobs, 8, 8, {},
                              {{.startFrame = 0}, {.startFrame = 2, .lastFrame = 4}, {.startFrame = 7, .lastFrame = -1}}));
    ASSERT_EQ(f.GetFrameCount(), 8);
    const int expected[] = {0, 0, 1, 1, 1, -1, -1, 2, 2, 2};   // frames 0..9
    for (unsigned fr = 0; fr < 10; fr++) EXPECT_EQ(f.LocateFrame(fr), expected[fr]) << "frame " << fr;
    EXPECT_EQ(f.LocateFrame(100000), 2);
    EXPECT_EQ(f.FindEntry(8), -1);   // the frame count itself passes the range test, no entry reaches it
    EXPECT_EQ(f.FindEntry(9), -1);

    // The last entry a run: past the end there is no picture; a gap before the first entry neither.
    CRvoFile g;
    ASSERT_TRUE(OpenIndexFile(g, ScratchPath("runs.rvo"), rvo::JpegBlobs, 8, 8, {},
                              {{.startFrame = 1}, {.startFrame = 3, .lastFrame = 5}}));
    ASSERT_EQ(g.GetFrameCount(), 6);
    const int expected2[] = {-1, 0, 0, 1, 1, 1, -1, -1};
    for (unsigned fr = 0; fr < 8; fr++) EXPECT_EQ(g.LocateFrame(fr), expected2[fr]) << "frame " << fr;

    // Modes 4 and 5: the frame itself, the frame count past the end.
    const std::string empty = ScratchPath("no-records.rvo");
    rvotest::WriteAll(empty, std::vector<uint8_t>(512, 0));
    for (int mode : {4, 5}) {
        CRvoFile r;
        ASSERT_TRUE(SetUpRecordReader(r, empty, mode, 4, 4, 5, {}));
        EXPECT_EQ(r.LocateFrame(3), 3);
        EXPECT_EQ(r.LocateFrame(5), 5);
        EXPECT_EQ(r.LocateFrame(6), 5);
        EXPECT_EQ(r.LocateFrame(0xFFFFFFFFu), 5);
    }
}

TEST(FrameReader, PackedRecordsIntoHostRectangles) {
    const PackedMovie m;
    std::vector<uint32_t> table;
    const std::string path = ScratchPath("packed.rvo");
    rvotest::WriteAll(path, PackedFile(m.recs, m.cx, m.cy, &table));
    CRvoFile f;
    ASSERT_TRUE(SetUpRecordReader(f, path, 5, m.cx, m.cy, 3, table));

    struct Case {
        const char* name;
        int stride, height, x, y, w, h;   // host buffer, rectangle
        size_t shift;                     // pixels before the buffer's first row (alignment)
    };
    const Case cases[] = {
        {"exact, aligned", 13, 7, 0, 0, 13, 7, 0},
        {"exact, unaligned", 13, 7, 0, 0, 13, 7, 1},
        {"wider stride, offset", 20, 10, 3, 2, 13, 7, 0},
        {"rectangle larger than the frame", 32, 12, 1, 1, 30, 11, 0},
        {"rectangle cuts the frame", 20, 10, 16, 6, 4, 4, 0},
        {"same stride, fewer rows", 13, 5, 0, 0, 13, 5, 0},
        {"empty rectangle", 20, 10, 0, 0, 0, 0, 0},
    };
    // Frames out of order: the reader finds a record forward, backward and from the first.
    for (const Case& c : cases)
        for (unsigned fr : {0u, 2u, 1u}) {
            SCOPED_TRACE(std::string(c.name) + " frame " + std::to_string(fr));
            HostBuffer host(c.stride, c.height, c.shift);
            ASSERT_EQ(f.ReadFrame(fr, host.At(c.x, c.y), c.stride, c.h, TRUE, c.w), 1);
            const int w = std::min<int>(c.w, m.cx), h = std::min<int>(c.h, m.cy);
            EXPECT_EQ(host.Outside(c.x, c.y, w, h), 0);
            EXPECT_EQ(host.Rect(c.x, c.y, w, h), Crop(m.frames[fr], m.cx, w, h));
        }
    // Without a rectangle width the stride is the limit.
    HostBuffer host(16, 8);
    ASSERT_EQ(f.ReadFrame(2, host.At(0, 0), 16, 8, TRUE), 1);
    EXPECT_EQ(host.Rect(0, 0, 13, 7), m.frames[2]);
    EXPECT_EQ(host.Outside(0, 0, 13, 7), 0);
}

TEST(FrameReader, RawRecordsIntoHostRectangles) {
    // 33 x 3 frames: 396 bytes of pixels in a 512-byte record.
    std::mt19937 rng(9);
    std::vector<std::vector<uint32_t>> frames(3, std::vector<uint32_t>(99));
    for (auto& fr : frames)
        for (auto& p : fr) p = (uint32_t)rng();
    const std::string path = ScratchPath("raw.rvo");
    rvotest::WriteAll(path, RawFile(frames, 33, 3));
    CRvoFile f;
    ASSERT_TRUE(SetUpRecordReader(f, path, 4, 33, 3, 3, {}));
    ASSERT_EQ(f.FrameBytes(), 512u);

    for (unsigned fr = 0; fr < 3; fr++) {
        HostBuffer host(40, 6);
        ASSERT_EQ(f.ReadFrame(fr, host.At(5, 2), 40, 4, TRUE, 35), 1);
        EXPECT_EQ(host.Rect(5, 2, 33, 3), frames[fr]);
        EXPECT_EQ(host.Outside(5, 2, 33, 3), 0);
        HostBuffer small(40, 6);
        ASSERT_EQ(f.ReadFrame(fr, small.At(30, 4), 40, 2, TRUE, 10), 1);
        EXPECT_EQ(small.Rect(30, 4, 10, 2), Crop(frames[fr], 33, 10, 2));
        EXPECT_EQ(small.Outside(30, 4, 10, 2), 0);
        // Straight into an area that holds the whole record, as preloading reads.
        std::vector<DWORD> whole(512 / 4);
        ASSERT_EQ(f.ReadFrame(fr, whole.data(), 33, 3, FALSE), 1);
        EXPECT_EQ(std::vector<uint32_t>(whole.begin(), whole.begin() + 99), frames[fr]);
        // Asked to read straight into a host area that cannot hold the record: rows only.
        HostBuffer tight(33, 3);
        ASSERT_EQ(f.ReadFrame(fr, tight.At(0, 0), 33, 3, FALSE), 1);
        EXPECT_EQ(tight.Rect(0, 0, 33, 3), frames[fr]);
        EXPECT_EQ(tight.Outside(0, 0, 33, 3), 0);
    }
    HostBuffer host(40, 6);
    EXPECT_EQ(f.ReadFrame(3, host.At(0, 0), 40, 6, TRUE), 0);   // the frame count itself
    EXPECT_EQ(f.ReadFrame(0xFFFFFFFFu, host.At(0, 0), 40, 6, TRUE), 0);
    EXPECT_EQ(host.Outside(0, 0, 0, 0), 0);

    // A file cut inside the last record.
    std::vector<uint8_t> bytes = rvotest::ReadAll(path);
    bytes.resize(bytes.size() - 100);
    const std::string cut = ScratchPath("raw-cut.rvo");
    rvotest::WriteAll(cut, bytes);
    CRvoFile g;
    ASSERT_TRUE(SetUpRecordReader(g, cut, 4, 33, 3, 3, {}));
    EXPECT_EQ(g.ReadFrame(1, host.At(0, 0), 40, 6, TRUE), 1);
    EXPECT_EQ(g.ReadFrame(2, host.At(0, 0), 40, 6, TRUE), 0);
}

TEST(FrameReader, DamagedPackedFilesFailCleanly) {
    const PackedMovie m;
    std::vector<uint32_t> table;
    const std::vector<uint8_t> good = PackedFile(m.recs, m.cx, m.cy, &table);
    const size_t rec1 = 512 + table[0], rec2 = rec1 + table[1];

    struct Case {
        const char* name;
        unsigned frame;
        std::vector<uint8_t> file;
        std::vector<uint32_t> table;
        uint32_t frameCount;
        bool bFirstReads;   // frame 0 is untouched by the damage
    };
    auto patched = [&](size_t off, uint32_t v) {
        std::vector<uint8_t> b = good;
        for (int i = 0; i < 4; i++) b[off + i] = (uint8_t)(v >> (8 * i));
        return b;
    };
    std::vector<uint8_t> cut = good;
    cut.resize(rec2 + 256);   // inside the last record's first unit
    const Case cases[] = {
        {"frame past the table and the count", 3, good, table, 3, true},
        {"frame count larger than the table: frame in the table's zeros", 3, good, table, 200, true},
        {"frame count larger than the table: frame past it", 150, good, table, 200, true},
        {"table size differs from the record's", 1, good, {table[0], table[1] + 512, table[2]}, 3, true},
        {"table sum points past the file", 2, good, {table[0], 0x7FFFFE00u, table[2]}, 3, true},
        {"table sum wraps 32 bits", 2, good, {0xFFFFFE00u, 0x400u, table[2]}, 3, false},
        {"unknown tag", 1, patched(rec1, 0xFF000100u), table, 3, true},
        {"record size above the frame's largest", 1, patched(rec1 + 4, 4096), {table[0], 4096, table[2]}, 3, true},
        {"pixel count differs", 2, patched(rec2 + 12, 90), table, 3, true},
        {"first alpha run empty", 1, patched(rec1 + 16, 0), table, 3, true},
        {"file cut inside a record", 2, cut, table, 3, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = ScratchPath("damaged.rvo");
        rvotest::WriteAll(path, c.file);
        CRvoFile f;
        ASSERT_TRUE(SetUpRecordReader(f, path, 5, m.cx, m.cy, c.frameCount, c.table));
        HostBuffer host(13, 7);
        EXPECT_EQ(f.ReadFrame(c.frame, host.At(0, 0), 13, 7, TRUE), 0);
        EXPECT_EQ(host.Outside(0, 0, 0, 0), 0) << "nothing written on failure";
        // The frames before the damage still read.
        if (c.bFirstReads) {
            EXPECT_EQ(f.ReadFrame(0, host.At(0, 0), 13, 7, TRUE), 1);
            EXPECT_EQ(host.Rect(0, 0, 13, 7), m.frames[0]);
        }
    }
    // A record of exactly one 512-byte unit reads with one read.
    ASSERT_EQ(m.recs[0].size(), 512u);
}
