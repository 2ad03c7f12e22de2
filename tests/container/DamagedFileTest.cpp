// Damaged and hostile files: each breaks one thing and must fail to open
// cleanly, leaving the object empty with no handle, descriptor or block behind.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <random>

#include "container/RvoFile.h"
#include "platform/LastError.h"
#include "tests/container/Fixtures.h"
#include "tests/support/CorruptionSweep.h"

using namespace fixture;
using rvotest::ScratchPath;
using rvotest::Wide;

namespace {

const BlobSpec kBlob{6, 5, 3, 4, 0x21};
constexpr uint32_t kBlobFileBytes = 20 + 3 + 4;
constexpr uint32_t kIndexAt = 160 + kBlobFileBytes;

// A valid one-frame mode-3 file, built by hand.
Bytes JpegFile() {
    Bytes v = HeaderBytes({.indexOffset = kIndexAt, .entryCount = 1, .frameCount = 1, .mode = 3, .width = 6, .height = 5});
    Append(v, BlobFileBytes(kBlob));
    Append(v, RecordBytes({.blob = &kBlob, .blobOffset = 160}));
    return v;
}

// A valid two-frame mode-5 file: records of 512 bytes at 512 and 1024, the table at 1536.
Bytes PackedFile() {
    Bytes v = HeaderBytes({.indexOffset = 512, .entryCount = 2, .frameCount = 2, .mode = 5, .width = 4, .height = 4, .sizeTableBytes = 512, .tableLow = 1536},
                          512);
    Append(v, RecordArea(2, 512));
    rvotest::PutU32(v, 512);
    rvotest::PutU32(v, 512);
    rvotest::PutZeros(v, 504);
    return v;
}

Bytes Patch(Bytes v, size_t at, uint32_t x) {
    for (int i = 0; i < 4; i++) v.at(at + i) = (uint8_t)(x >> (8 * i));
    return v;
}

Bytes Cut(const Bytes& v, size_t n) { return Bytes(v.begin(), v.begin() + (ptrdiff_t)n); }

// Opens the bytes; on failure checks the last error (the expected code, or
// any code when none is given) and that nothing was left behind.
bool OpensCleanly(const Bytes& bytes, const std::string& what, DWORD dwExpected = 0) {
    const std::string path = ScratchPath("damaged.rvo");
    rvotest::WriteAll(path, bytes);
    const int nFds = OpenDescriptors();
    bool bOpened = false;
    {
        CRvoFile f;
        SetLastError(0);
        try {
            bOpened = f.Open(Wide(path).c_str(), CFile::modeRead | CFile::shareDenyWrite) != 0;
        } catch (...) {
            ADD_FAILURE() << what << ": an exception left Open";
            return true;
        }
        if (!bOpened) {
            if (dwExpected) {
                EXPECT_EQ(GetLastError(), dwExpected) << what;
            } else {
                EXPECT_NE(GetLastError(), 0u) << what;
            }
            EXPECT_FALSE(f.IsOpen()) << what;
            EXPECT_EQ(f.GetEntryCount(), 0) << what;
            EXPECT_EQ(f.RecordBytesAt(0), 0u) << what;
            EXPECT_EQ(f.Header().m_nMode, 2) << what;
            EXPECT_EQ(f.Header().m_nEntryCount, 0) << what;
        }
    }
    EXPECT_EQ(OpenDescriptors(), nFds) << what;
    return bOpened;
}

}   // namespace

TEST(DamagedFile, ValidFixturesOpen) {
    EXPECT_TRUE(OpensCleanly(JpegFile(), "mode 3"));
    EXPECT_TRUE(OpensCleanly(PackedFile(), "mode 5"));
}

TEST(DamagedFile, EachDamageFailsCleanly) {
    const Bytes jpeg = JpegFile(), packed = PackedFile();
    const size_t kRecord = kIndexAt, kName = kRecord + 8, kBlobAt = kRecord + 44;
    const size_t kExtraCount = kBlobAt + kBlobFileBytes + 12 + 64;
    Bytes wrongDigit = jpeg;
    wrongDigit[7] = '1';
    Bytes longName = jpeg;   // the name claims 200 characters
    longName[kName + 3] = 200;
    // No header (short, or not ours): ERROR_BAD_FORMAT. A count, offset or
    // length the file cannot hold, or an index record that does not parse
    // (the archive's exceptions): ERROR_INVALID_DATA.
    constexpr DWORD kBad = ERROR_BAD_FORMAT, kInvalid = ERROR_INVALID_DATA;
    struct Case {
        const char* what;
        Bytes bytes;
        DWORD error;
    } cases[] = {
        {"empty file", {}, kBad},
        {"short header", Cut(jpeg, 159), kBad},
        {"wrong last magic digit", wrongDigit, kBad},
        {"huge entry count", Patch(jpeg, 12, 0x7FFFFFFF), kInvalid},
        {"negative entry count", Patch(jpeg, 12, 0xFFFFFFFF), kInvalid},
        {"entry count at the limit", Patch(jpeg, 12, 10000000), kInvalid},
        {"more entries than the index holds", Patch(jpeg, 12, 2), kInvalid},
        {"index offset past the end", Patch(jpeg, 8, (uint32_t)jpeg.size() + 1), kInvalid},
        {"index offset far past the end", Patch(jpeg, 8, 0xFFFFFFF0u), kInvalid},
        {"index offset inside the header", Patch(jpeg, 8, 0), kInvalid},
        {"name past the end", longName, kInvalid},
        {"blob marker", Patch(jpeg, kBlobAt, 0x55AA0001u), kInvalid},
        {"colour stream past the end", Patch(jpeg, kBlobAt + 12, 100000), kInvalid},
        {"alpha stream past the end", Patch(jpeg, kBlobAt + 16, 0x7FFFFFFF), kInvalid},
        {"extra items past the end", Patch(jpeg, kExtraCount, 1000), kInvalid},
        {"extra count beyond the limit", Patch(jpeg, kExtraCount, 0x10000000), kInvalid},
        {"packed: short header block", Cut(packed, 100), kBad},
        {"packed: index offset past the end", Patch(packed, 8, 4096), kInvalid},
        {"packed: index offset inside the header block", Patch(packed, 8, 160), kInvalid},
        {"packed: table past the end", Patch(packed, 52, 1537), kInvalid},
        {"packed: table longer than the file", Patch(packed, 44, 1024), kInvalid},
        {"packed: table offset all ones", Patch(Patch(packed, 48, 0xFFFFFFFF), 52, 0xFFFFFFFF), kInvalid},
        {"packed: table offset high half", Patch(packed, 48, 1), kInvalid},
        {"packed: table not whole words", Patch(packed, 44, 510), kInvalid},
        {"packed: table shorter than the frames", Patch(packed, 44, 4), kInvalid},
        {"packed: huge table", Patch(packed, 44, 0xFFFFFFFC), kInvalid},
        {"packed: huge entry count", Patch(Patch(packed, 12, 0x7FFFFFFF), 16, 0x7FFFFFFF), kInvalid},
        {"packed: table cut off", Cut(packed, 1536 + 100), kInvalid},
        {"raw: entry count past the limit", Patch(Patch(packed, 20, 4), 12, 10000001), kInvalid},
    };
    for (const Case& c : cases) EXPECT_FALSE(OpensCleanly(c.bytes, c.what, c.error)) << c.what;
}

TEST(DamagedFile, EveryTruncationOfAValidFileFails) {
    const Bytes jpeg = JpegFile();
    // Without the whole header the file is not ours; with it, something it claims is missing.
    auto code = [](size_t n) -> DWORD { return n < 160 ? ERROR_BAD_FORMAT : ERROR_INVALID_DATA; };
    for (size_t n = 0; n < jpeg.size(); n++)
        EXPECT_FALSE(OpensCleanly(Cut(jpeg, n), "mode 3 cut at " + std::to_string(n), code(n))) << n;
    const Bytes packed = PackedFile();
    for (size_t n : {0, 159, 160, 511, 512, 1024, 1536, 1537, 2047})
        EXPECT_FALSE(OpensCleanly(Cut(packed, n), "mode 5 cut at " + std::to_string(n), code(n))) << n;
}

TEST(DamagedFile, RandomTailsNeverEscape) {
    const Bytes jpeg = JpegFile();
    std::mt19937 rng(20240601);
    int nOpened = 0;
    for (int round = 0; round < 300; round++) {
        Bytes v = jpeg;
        const size_t from = 160 + rng() % (v.size() - 160);
        for (size_t i = from; i < v.size(); i++) v[i] = (uint8_t)rng();
        // Sometimes longer or shorter than the original, too.
        const int nExtra = (int)(rng() % 64) - 32;
        if (nExtra > 0)
            for (int i = 0; i < nExtra; i++) v.push_back((uint8_t)rng());
        else v.resize(std::max(from, v.size() - (size_t)(-nExtra)));
        nOpened += OpensCleanly(v, "random tail from " + std::to_string(from)) ? 1 : 0;
    }
    // Random bytes over the record are not a valid record; over the unused blob area copy they may be.
    EXPECT_LT(nOpened, 300);
}

// Finished movies of each mode damaged one region at a time (zeroed, flipped,
// cut off) at seeded random places: every frame the damage left alone reads
// back exactly, and every change to bytes that carry a check (the magic,
// packed record headers and size-table words, either copy of a JPEG picture,
// the file's length) is found. The long run is the corruption_sweep fuzz target.
TEST(DamagedFile, CorruptionSweepOfFinishedMovies) {
    struct Row {
        LONG nMode;
        uint64_t nSeed;
        int nDamages;
    } rows[] = {{3, 3003, 1000}, {4, 4004, 1000}, {5, 5005, 1000}};
    for (const Row& row : rows) {
        SCOPED_TRACE("mode " + std::to_string(row.nMode));
        rvotest::SweepMovie movie;
        const std::string name = "sweep" + std::to_string(row.nMode);
        // The damaged files go to tmpfs where there is one: the raw modes are read
        // without system buffering, which on a disk would first write each one out.
        const bool bShm = access("/dev/shm", W_OK) == 0;
        const std::string damaged = bShm ? "/dev/shm/rvo-" + std::to_string(getpid()) + "-" + name + ".rvo"
                                         : ScratchPath(name + "-damaged.rvo");
        ASSERT_TRUE(rvotest::MakeSweepMovie(row.nMode, ScratchPath(name + "-intact.rvo"), damaged, &movie));
        rvotest::SweepCounts counts;
        EXPECT_EQ(rvotest::RunCorruptionSweep(movie, row.nSeed, row.nDamages, &counts), "");
        std::remove(damaged.c_str());
        EXPECT_EQ(counts.nDamages, row.nDamages);
        // The damages reach both the pictures and what must be found.
        EXPECT_GT(counts.nIntactFrames, 0);
        EXPECT_GT(counts.nMustFind, 0);
        EXPECT_GE(counts.nFound, counts.nMustFind);
        std::printf(
            "mode %d: %lld damages, %lld opened, %lld of them had to be found, %lld found; %lld intact frames read "
            "back exactly, %lld damaged pictures read back exactly, %lld changed unnoticed by the reader\n",
            (int)row.nMode, counts.nDamages, counts.nOpened, counts.nMustFind, counts.nFound,
            counts.nIntactFrames, counts.nReadFromOtherCopy, counts.nChangedUnnoticed);
    }
}
