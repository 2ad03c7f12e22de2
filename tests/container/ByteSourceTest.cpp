// Movies served by a byte source (platform/ByteSource.h) open and read as
// their files do, in every mode; a handle over a source never writes.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

#include "container/RvoFile.h"
#include "platform/ByteSource.h"
#include "platform/LastError.h"
#include "platform/RawFile.h"
#include "tests/support/Movies.h"
#include "tests/support/SyntheticFrames.h"
#include "tests/support/TestFiles.h"

namespace {

// Bytes in memory, as a front end gathers a pushed stream.
class CMemorySource : public CByteSource {
public:
    explicit CMemorySource(std::vector<uint8_t> bytes) : m_bytes(std::move(bytes)) {}
    ULONGLONG Size() override { return m_bytes.size(); }
    BOOL ReadAt(ULONGLONG nAt, void* pBuf, DWORD nBytes, DWORD* pnRead) override {
        *pnRead = 0;
        if (nAt >= m_bytes.size()) return TRUE;
        *pnRead = (DWORD)std::min<ULONGLONG>(nBytes, m_bytes.size() - nAt);
        std::memcpy(pBuf, m_bytes.data() + nAt, *pnRead);
        return TRUE;
    }

private:
    std::vector<uint8_t> m_bytes;
};

std::vector<uint32_t> Frame(CRvoFile& f, unsigned k, int w, int h) {
    std::vector<uint32_t> px((size_t)w * h);
    EXPECT_TRUE(f.ReadFrame((unsigned)f.LocateFrame(k), px.data(), w, h, TRUE));
    return px;
}

TEST(ByteSource, MoviesReadAsTheirFiles) {
    const int w = 32, h = 16;   // whole JPEG blocks
    std::vector<std::vector<uint32_t>> frames;
    for (uint32_t k = 0; k < 4; k++) frames.push_back(rvotest::MakeFrame(w, h, rvotest::Content::Graphics, k));
    for (LONG nMode : {rvo::JpegBlobs, rvo::RawFrames, rvo::PackedFrames}) {
        SCOPED_TRACE("mode " + std::to_string(nMode));
        const std::string file = rvotest::ScratchPath("source-" + std::to_string(nMode) + ".rvo");
        ASSERT_TRUE(rvotest::WriteMovie(file, nMode, w, h, frames));
        const std::string served = rvotest::ScratchPath("served-" + std::to_string(nMode) + ".rvo");
        ASSERT_TRUE(RegisterByteSource(served, std::make_shared<CMemorySource>(rvotest::ReadAll(file))));
        EXPECT_FALSE(RegisterByteSource(served, std::make_shared<CMemorySource>(std::vector<uint8_t>{})));
        CRvoFile a, b;
        ASSERT_TRUE(rvotest::OpenMovie(a, file));
        ASSERT_TRUE(rvotest::OpenMovie(b, served));
        ASSERT_EQ(b.GetFrameCount(), 4);
        for (unsigned k = 0; k < 4; k++) EXPECT_TRUE(Frame(a, k, w, h) == Frame(b, k, w, h)) << "frame " << k;
        b.Close(FALSE);
        // Writers are refused, and nothing appears on disk under the name.
        SetLastError(0);
        EXPECT_EQ(CreateFileW(rvotest::Wide(served).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr),
                  INVALID_HANDLE_VALUE);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_ACCESS_DENIED);
        UnregisterByteSource(served);
        CRvoFile c;
        EXPECT_FALSE(rvotest::OpenMovie(c, served));
    }
}

}   // namespace
