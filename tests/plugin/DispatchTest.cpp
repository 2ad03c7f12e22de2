// The dispatcher's answers to the host: queries, refusals, handle reuse and
// the files that commands 6 and 10 leave behind.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "platform/LastError.h"
#include "tests/plugin/PluginTestHost.h"

using namespace plugintest;
using rvotest::DiffBytes;
using rvotest::HeaderBytes;
using rvotest::ReadAll;
using rvotest::ScratchPath;

namespace {

TEST(Dispatch, QueriesAndUnknownCommands) {
    Host h;
    EXPECT_EQ(h.Run(CMD_QUERY_CAPS), 0);
    EXPECT_EQ(h.out->nCaps1, 1);
    EXPECT_EQ(h.out->nCaps2, 1);
    EXPECT_EQ(h.Run(CMD_GET_FILTER), 0);
    EXPECT_EQ(std::u16string(h.out->pszFilter), u"RVO File(*.RVO)|*.RVO");

    // Codes outside 1-10 do nothing at all, not even to the output record.
    std::memset(h.out.get(), 0x5A, sizeof(HostMediaInfo));
    std::vector<uint8_t> before((uint8_t*)h.out.get(), (uint8_t*)h.out.get() + sizeof(HostMediaInfo));
    for (unsigned cmd : {0u, 11u, 0xFFFFFFFFu}) {
        EXPECT_EQ(h.Run(cmd), 0) << cmd;
        EXPECT_EQ(h.handle, nullptr);
    }
    EXPECT_EQ(0, std::memcmp(before.data(), h.out.get(), before.size()));
    EXPECT_EQ(h.Run(CMD_CLOSE), 0);   // null handle
}

TEST(Dispatch, ExtensionIsComparedWholeAfterUpperCasing) {
    Host h;
    const struct {
        const char* ext;
        int result;
    } cases[] = {{"RVO", 0}, {"rvo", 0}, {"rVo", 0}, {"RVO ", 2}, {".RVO", 2}, {"RV", 2}, {"RVOX", 2}, {"", 2}, {"C:\\movie.rvo", 2}};
    for (const auto& c : cases) {
        h.SetPath(c.ext);
        EXPECT_EQ(h.Run(CMD_MATCH_EXTENSION), c.result) << "'" << c.ext << "'";
    }
}

TEST(Dispatch, PathWithoutTerminatorIsRefused) {
    Host h;
    std::fill(std::begin(h.in->szPath), std::end(h.in->szPath), u'A');
    h.in->rcRegion = RECT{0, 0, 4, 4};
    h.in->dFieldDuration = 1.0;
    for (unsigned cmd : {CMD_MATCH_EXTENSION, CMD_GET_FILE_INFO, CMD_OPEN_READ, CMD_CREATE_WRITE, CMD_PRELOAD}) {
        EXPECT_EQ(h.Run(cmd), 1) << cmd;
        EXPECT_EQ(h.handle, nullptr) << cmd;
    }
}

TEST(Dispatch, CommandsWithoutAFile) {
    Host h;
    HostFrameBuffer buf{};
    DWORD px[4] = {};
    buf.nWidth = buf.nHeight = buf.nStride = 2;
    buf.pPixels = px;
    h.in->pDst = h.in->pSrc = &buf;
    EXPECT_EQ(h.Run(CMD_READ_FRAME), 1);
    EXPECT_EQ(h.Run(CMD_WRITE_FRAME), 1);

    // A failed open leaves a handle without a file; 7 and 8 still fail, 10 clears the slot.
    EXPECT_EQ(h.Open(ScratchPath("missing.rvo")), 1);
    ASSERT_NE(h.handle, nullptr);
    EXPECT_EQ(h.handle->m_pRvoFile, nullptr);
    EXPECT_EQ(h.Run(CMD_READ_FRAME), 1);
    EXPECT_EQ(h.Run(CMD_WRITE_FRAME), 1);
    EXPECT_EQ(h.Run(CMD_GET_FILE_INFO), 1);
    EXPECT_EQ(h.Close(), 0);
    EXPECT_EQ(h.handle, nullptr);
}

TEST(Dispatch, CreateRefusesRegionsWithoutPixels) {
    const RECT regions[] = {{0, 0, 0, 10}, {0, 0, 10, 0}, {5, 0, 4, 10}, {0, 5, 10, 4}, {-2147483647 - 1, 0, 2147483647, 1}, {0, 0, 100000, 100000}};
    for (const RECT& rc : regions) {
        Host h;
        std::string path = ScratchPath("refused.rvo");
        h.SetPath(path);
        h.in->rcRegion = rc;
        h.in->dFieldDuration = 1.0;
        h.in->dTotalDuration = 10.0;
        for (LONG comp : {0, 1, 2}) {
            h.in->nCompression = comp;
            EXPECT_EQ(h.Run(CMD_CREATE_WRITE), 1) << rc.left << "," << rc.top << "," << rc.right << "," << rc.bottom;
            EXPECT_FALSE(std::filesystem::exists(path));
            ASSERT_NE(h.handle, nullptr);
            EXPECT_EQ(h.handle->m_pRvoFile, nullptr);
        }
    }
}

// Files created and closed without frames: the exact header of each writable mode.
TEST(Dispatch, EmptyFilesOfEachCompressionChoice) {
    const struct {
        LONG compression;
        std::vector<uint8_t> header;
        size_t fileBytes;
    } cases[] = {
        {1, HeaderBytes({160, 0, 0, 3, -1, -1}), 160},
        {2, HeaderBytes({512, 0, 0, 5, 8, 2, 0, 0, 512}), 512},
        {0, HeaderBytes({512, 0, 0, 4, 8, 2}), 512},
        {3, HeaderBytes({512, 0, 0, 4, 8, 2}), 512},
        {-1, HeaderBytes({512, 0, 0, 4, 8, 2}), 512},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE("compression " + std::to_string(c.compression));
        std::string path = ScratchPath("empty" + std::to_string(c.compression) + ".rvo");
        Host h;
        ASSERT_EQ(h.Create(path, c.compression, 8, 2), 0);
        ASSERT_NE(h.handle, nullptr);
        EXPECT_EQ(h.handle->m_bWriteMode, 1);
        EXPECT_EQ(h.handle->m_nCurrentFrame, -1);
        EXPECT_EQ(h.handle->m_nLastFrame, 5);
        EXPECT_EQ(h.Close(), 0);
        EXPECT_EQ(h.handle, nullptr);
        std::vector<uint8_t> bytes = ReadAll(path);
        ASSERT_EQ(bytes.size(), c.fileBytes);
        bytes.resize(160);
        EXPECT_EQ(DiffBytes(c.header, bytes), "");

        // Command 4 on a file without frames: duration 0, not a wrapped count.
        Host q;
        q.SetPath(path);
        q.in->dFieldDuration = 20.0;
        q.out->dDuration = -1.0;
        EXPECT_EQ(q.Run(CMD_GET_FILE_INFO), 0);
        EXPECT_EQ(q.out->nWidth, c.compression == 1 ? -1 : 8);
        EXPECT_EQ(q.out->nHeight, c.compression == 1 ? -1 : 2);
        EXPECT_EQ(q.out->dDuration, 0.0);
        EXPECT_EQ(q.handle, nullptr);
    }
}

TEST(Dispatch, OpenReusesTheHandle) {
    std::string a = ScratchPath("reuse-a.rvo"), b = ScratchPath("reuse-b.rvo");
    {
        Host w;
        ASSERT_EQ(w.Create(b, 2, 4, 4), 0);
    }
    Host h;
    ASSERT_EQ(h.Create(a, 0, 6, 3), 0);
    RvoHandle* r = h.handle;
    CRvoFile* writing = r->m_pRvoFile;

    // Command 6 again for the same path changes nothing.
    h.in->dTotalDuration = 100.0;
    EXPECT_EQ(h.Run(CMD_CREATE_WRITE), 0);
    EXPECT_EQ(h.handle, r);
    EXPECT_EQ(r->m_pRvoFile, writing);
    EXPECT_EQ(r->m_nLastFrame, 5);

    // Another path: the file being written is finalized (its header now holds
    // the frame size), the counters stay, the second file is opened.
    EXPECT_EQ(ReadAll(a)[24], 0);
    EXPECT_EQ(h.Open(b), 0);
    EXPECT_EQ(h.handle, r);
    ASSERT_NE(r->m_pRvoFile, nullptr);
    EXPECT_EQ(r->m_bWriteMode, 1);
    EXPECT_EQ(r->m_nLastFrame, -1);
    EXPECT_EQ(r->m_pRvoFile->Header().m_nMode, rvo::PackedFrames);
    std::vector<uint8_t> header = ReadAll(a);
    header.resize(160);
    EXPECT_EQ(DiffBytes(HeaderBytes({512, 0, 0, 4, 6, 3}), header), "");

    // The same path again: no reopen, the current frame goes back to -1.
    CRvoFile* reading = r->m_pRvoFile;
    r->m_nCurrentFrame = 3;
    EXPECT_EQ(h.Open(b), 0);
    EXPECT_EQ(r->m_pRvoFile, reading);
    EXPECT_EQ(r->m_nCurrentFrame, -1);

    // A path that cannot be opened: the old file is gone, the handle stays empty.
    EXPECT_EQ(h.Open(ScratchPath("nowhere/missing.rvo")), 1);
    EXPECT_EQ(h.handle, r);
    EXPECT_EQ(r->m_pRvoFile, nullptr);
    EXPECT_EQ(h.Open(a), 0);
    ASSERT_NE(r->m_pRvoFile, nullptr);
    EXPECT_EQ(r->m_pRvoFile->Header().m_nMode, rvo::RawFrames);
}

// One frame of 32 x 32 through command 8, then command 10.
void WriteOneFrame(const std::string& path, LONG nCompression) {
    Host w;
    ASSERT_EQ(w.Create(path, nCompression, 32, 32), 0);
    std::vector<DWORD> px(32 * 32, 0xFF336699u);
    HostFrameBuffer src{};
    src.nWidth = src.nHeight = src.nStride = 32;
    src.pPixels = px.data();
    w.in->pSrc = &src;
    ASSERT_EQ(w.Run(CMD_WRITE_FRAME), 0);
}

// A file being read (commands 5, 4, 9 on other handles) refuses every writer
// and stays as it was; a file being written refuses every reader; readers
// share it. The file's mode decides how its readers hold it (the index modes
// through CFile, the record modes through the raw handle); the writer's mode
// how the writer asks for it.
TEST(Dispatch, ReadersAndWritersOfOneFileAreKeptApart) {
    for (LONG nFileCompression : {1, 2, 0}) {
        const std::string path = ScratchPath("apart" + std::to_string(nFileCompression) + ".rvo");
        WriteOneFrame(path, nFileCompression);
        const std::vector<uint8_t> bytes = ReadAll(path);
        {
            Host reader, second, info, preload;
            ASSERT_EQ(reader.Open(path), 0);
            EXPECT_EQ(second.Open(path), 0);
            info.SetPath(path);
            EXPECT_EQ(info.Run(CMD_GET_FILE_INFO), 0);
            preload.SetPath(path);
            preload.in->dFieldDuration = 1.0;
            EXPECT_EQ(preload.Run(CMD_PRELOAD), 0);
            for (LONG nCompression : {1, 2, 0}) {
                SCOPED_TRACE("file " + std::to_string(nFileCompression) + ", writer " + std::to_string(nCompression));
                Host writer;
                SetLastError(0);
                EXPECT_EQ(writer.Create(path, nCompression, 32, 32), 1);
                EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
                EXPECT_EQ(DiffBytes(bytes, ReadAll(path)), "");
            }
        }
        Host writer;
        ASSERT_EQ(writer.Create(path, nFileCompression, 32, 32), 0);
        for (unsigned nCommand : {CMD_GET_FILE_INFO, CMD_OPEN_READ, CMD_PRELOAD}) {
            SCOPED_TRACE("file " + std::to_string(nFileCompression) + ", command " + std::to_string(nCommand));
            Host reader;
            reader.SetPath(path);
            reader.in->dFieldDuration = 1.0;
            SetLastError(0);
            EXPECT_EQ(reader.Run(nCommand), 1);
            EXPECT_EQ(GetLastError(), (DWORD)ERROR_SHARING_VIOLATION);
        }
        EXPECT_EQ(writer.Close(), 0);
        Host after;
        EXPECT_EQ(after.Open(path), 0);
    }
}

int g_nProgressCalls = 0;
int CountProgress(int) { return ++g_nProgressCalls, 1; }

TEST(Dispatch, PreloadOpensOnceAndPreloadsOnce) {
    std::string path = ScratchPath("preload.rvo");
    {
        Host w;
        ASSERT_EQ(w.Create(path, 0, 4, 2), 0);
    }
    Host h;
    h.SetPath(path);
    h.in->dTime = 7.0;
    h.in->dFieldDuration = 1.0;
    h.in->pfnProgress = CountProgress;
    EXPECT_EQ(h.Run(CMD_PRELOAD), 0);
    RvoHandle* r = h.handle;
    ASSERT_NE(r, nullptr);
    ASSERT_NE(r->m_pRvoFile, nullptr);
    EXPECT_EQ(r->m_nCurrentFrame, 4);   // 7 / 1 x 0.5 + 0.5, truncated
    EXPECT_EQ(r->m_bPreloaded, 1);
    EXPECT_EQ(r->m_pRvoFile->ProgressCallback(), &CountProgress);

    // Second time: neither reopened nor preloaded again, whatever the path says.
    CRvoFile* file = r->m_pRvoFile;
    file->SetProgressCallback(nullptr);
    h.SetPath(ScratchPath("other.rvo"));
    EXPECT_EQ(h.Run(CMD_PRELOAD), 0);
    EXPECT_EQ(r->m_pRvoFile, file);
    EXPECT_EQ(r->m_pRvoFile->ProgressCallback(), nullptr);

    Host missing;
    missing.SetPath(ScratchPath("missing.rvo"));
    missing.in->dFieldDuration = 1.0;
    EXPECT_EQ(missing.Run(CMD_PRELOAD), 1);
    ASSERT_NE(missing.handle, nullptr);
    EXPECT_EQ(missing.handle->m_bPreloaded, 0);
}

}   // namespace
