// Error codes, hostile blobs, the busy lock and the engine's small contracts.
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <thread>

#include "container/BlobFile.h"
#include "tests/codec/CodecTestUtil.h"

using namespace codectest;

namespace {

// A valid blob of a small gradient frame, as bytes.
std::vector<BYTE> SampleBlobBytes(int w = 48, int h = 32) {
    std::vector<DWORD> src = GradientFrame(w, h, w);
    CJpeEngine engine;
    HGLOBAL hBlob = engine.CompressImage(w, h, src.data(), w);
    EXPECT_NE(hBlob, nullptr);
    std::vector<BYTE> v = BlobBytes(hBlob);
    CJpeEngine::FreeBlob(hBlob);
    return v;
}

void PutU32At(std::vector<BYTE>& v, size_t at, DWORD x) { StoreLe32(v.data() + at, x); }

// Decodes the blob with both decoders; returns the last-error codes (0 on success).
std::pair<DWORD, DWORD> DecodeCodes(HGLOBAL hBlob, LONG w, LONG h) {
    CJpeEngine engine;
    DWORD dwA = 0, dwB = 0;
    std::unique_ptr<BYTE[]> p(engine.Decompress(hBlob));
    if (!p) dwA = GetLastError();
    ExpectIdle(engine);
    // A guard past the buffer catches writes beyond it on builds without ASan.
    std::vector<DWORD> into((size_t)w * h + 16, 0x5A5A5A5Au);
    SIZE size = {w, h};
    if (!engine.DecompressInto(hBlob, into.data(), &size)) dwB = GetLastError();
    ExpectIdle(engine);
    for (size_t i = (size_t)w * h; i < into.size(); i++) EXPECT_EQ(into[i], 0x5A5A5A5Au);
    if (CJpeEngine::IsValidBlob(hBlob)) {
        EXPECT_EQ(GlobalFlags(hBlob), 0u) << "blob left locked";
    }
    return {dwA, dwB};
}

}   // namespace

TEST(JpeEngineErrors, CompressRefusesBadFramesWithTheirCodes) {
    std::vector<DWORD> px((size_t)64 * 64, 0x80808080u);
    struct Case {
        int w, h;
        const DWORD* p;
        int stride;
        DWORD code;
    } cases[] = {
        {1, 1, px.data(), 1, ERROR_WRITE_FAULT},   // the headers alone exceed the 4-byte stream
        {8, 8, px.data(), 8, ERROR_WRITE_FAULT},
        {0, 10, px.data(), 10, ERROR_INVALID_FORM_SIZE},
        {10, 0, px.data(), 10, ERROR_INVALID_FORM_SIZE},
        {-5, 10, px.data(), 10, ERROR_INVALID_FORM_SIZE},
        {65501, 1, px.data(), 65501, ERROR_INVALID_FORM_SIZE},
        {1, 65501, px.data(), 1, ERROR_INVALID_FORM_SIZE},
        {32, 32, nullptr, 32, E_POINTER},
    };
    CJpeEngine engine;
    for (const Case& c : cases) {
        SetLastError(0);
        EXPECT_EQ(engine.CompressImage(c.w, c.h, c.p, c.stride), nullptr) << c.w << "x" << c.h;
        EXPECT_EQ(GetLastError(), c.code) << c.w << "x" << c.h;
        ExpectIdle(engine);
    }
    EXPECT_EQ(engine.Compress(nullptr, px.data(), 64), nullptr);
    EXPECT_EQ(GetLastError(), E_POINTER);

    // Rows that run into an unreadable page, through a too-large stride or
    // height or a stride that walks backwards, are refused before libjpeg
    // reads them. The frame fills one readable page between two unreadable ones.
    size_t page = (size_t)sysconf(_SC_PAGESIZE);
    BYTE* pMap = (BYTE*)mmap(nullptr, 3 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    ASSERT_NE(pMap, MAP_FAILED);
    ASSERT_EQ(mprotect(pMap, page, PROT_NONE), 0);
    ASSERT_EQ(mprotect(pMap + 2 * page, page, PROT_NONE), 0);
    const DWORD* pFrame = (const DWORD*)(pMap + page);
    int nFit = (int)(page / 4 / 32);   // rows of 32 pixels in the readable page
    struct Probe {
        int h;
        const DWORD* p;
        int stride;
        bool ok;
    } probes[] = {
        {nFit, pFrame, 32, true},
        {nFit, pFrame + 32 * (nFit - 1), -32, true},
        {nFit + 1, pFrame, 32, false},
        {nFit, pFrame, 33, false},
        {nFit, pFrame + 32 * (nFit - 2), -32, false},
    };
    for (const Probe& p : probes) {
        HGLOBAL hBlob = engine.CompressImage(32, p.h, p.p, p.stride);
        EXPECT_EQ(hBlob != nullptr, p.ok) << p.h << " rows, stride " << p.stride;
        if (!p.ok) {
            EXPECT_EQ(GetLastError(), E_POINTER);
        }
        CJpeEngine::FreeBlob(hBlob);
    }
    munmap(pMap, 3 * page);
    ExpectIdle(engine);
}

TEST(JpeEngineErrors, NegativeStrideReadsBottomUp) {
    const int w = 40, h = 36;
    std::vector<DWORD> src = GradientFrame(w, h, w), flipped(src.size());
    for (int y = 0; y < h; y++) std::copy_n(&src[(size_t)y * w], w, &flipped[(size_t)(h - 1 - y) * w]);
    CJpeEngine engine;
    HGLOBAL hUp = engine.CompressImage(w, h, &flipped[(size_t)(h - 1) * w], -w);
    HGLOBAL hDown = engine.CompressImage(w, h, src.data(), w);
    ASSERT_TRUE(hUp && hDown);
    EXPECT_EQ(BlobBytes(hUp), BlobBytes(hDown));
    CJpeEngine::FreeBlob(hUp);
    CJpeEngine::FreeBlob(hDown);
}

TEST(JpeEngineErrors, DamagedBlobsFailWithTheirCodes) {
    const std::vector<BYTE> good = SampleBlobBytes();
    const DWORD dwColour = LoadLe32(&good[12]), dwAlpha = LoadLe32(&good[16]);
    struct Case {
        const char* what;
        std::vector<BYTE> bytes;
        DWORD code;
    };
    auto edit = [&](size_t at, DWORD v) { std::vector<BYTE> b = good; PutU32At(b, at, v); return b; };
    std::vector<BYTE> zeroedColour = good;
    std::fill(zeroedColour.begin() + 20 + dwAlpha + 2, zeroedColour.end() - 4, 0);
    std::vector<BYTE> noColour = good;
    PutU32At(noColour, 12, 0);
    std::vector<Case> cases = {
        {"file marker as magic", edit(0, rvo::kBlobFileMarker), ERROR_INVALID_HANDLE},
        {"other magic", edit(0, 0x55AA0002u), ERROR_INVALID_HANDLE},
        {"alpha length past block", edit(16, dwAlpha + 5), ERROR_INVALID_HANDLE},
        {"colour length huge", edit(12, 0xFFFFFFFFu), ERROR_INVALID_HANDLE},
        {"lengths wrap in 32 bits", edit(16, 0xFFFFFFFFu - dwColour + 8), ERROR_INVALID_HANDLE},
        {"block shorter than header", std::vector<BYTE>(good.begin(), good.begin() + 19), ERROR_INVALID_HANDLE},
        {"block cut in the colour stream", std::vector<BYTE>(good.begin(), good.end() - 40), ERROR_INVALID_HANDLE},
        {"width larger than SOF", edit(4, 56), ERROR_INVALID_DATA},
        {"height larger than SOF", edit(8, 48), ERROR_INVALID_DATA},
        {"height smaller than SOF", edit(8, 31), ERROR_INVALID_DATA},
        {"width beyond libjpeg", edit(4, 70000), ERROR_INVALID_DATA},
        {"width zero", edit(4, 0), ERROR_INVALID_DATA},
        {"corrupt colour stream", zeroedColour, ERROR_INVALID_DATA},
        {"empty colour stream", noColour, ERROR_INVALID_DATA},
    };
    for (const Case& c : cases) {
        HGLOBAL hBlob = BlobFromBytes(c.bytes);
        JpegBlobInfo info;
        LONG w = 48, h = 32;
        if (CJpeEngine::LockBlob(&info, hBlob, TRUE) && info.width >= 0 && info.height >= 0 &&
            (LONGLONG)info.width * info.height <= (1 << 22)) {
            w = info.width;
            h = info.height;
        }
        CJpeEngine::LockBlob(nullptr, hBlob, FALSE);
        auto codes = DecodeCodes(hBlob, w, h);
        EXPECT_EQ(codes.first, c.code) << c.what;
        EXPECT_EQ(codes.second, c.code) << c.what;
        SIZE s = CJpeEngine::GetBlobSize(hBlob);
        if (c.code == ERROR_INVALID_HANDLE) {
            EXPECT_TRUE(s.cx == 0 && s.cy == 0 && GetLastError() == ERROR_INVALID_HANDLE) << c.what;
        }
        CJpeEngine::FreeBlob(hBlob);
    }
    // Handles that are no blob at all.
    HGLOBAL hFreed = BlobFromBytes(good);
    CJpeEngine::FreeBlob(hFreed);
    for (HGLOBAL h : {(HGLOBAL) nullptr, hFreed}) {
        EXPECT_FALSE(CJpeEngine::IsValidBlob(h));
        auto codes = DecodeCodes(h, 48, 32);
        EXPECT_EQ(codes.first, ERROR_INVALID_HANDLE);
        EXPECT_EQ(codes.second, ERROR_INVALID_HANDLE);
    }
}

TEST(JpeEngineErrors, DecompressIntoChecksItsArguments) {
    HGLOBAL hBlob = BlobFromBytes(SampleBlobBytes());
    CJpeEngine engine;
    std::vector<DWORD> buf((size_t)49 * 33, 0x11111111u);
    struct Case {
        SIZE size;
        DWORD* p;
        DWORD code;
    } cases[] = {
        {{49, 32}, buf.data(), ERROR_INVALID_HANDLE},
        {{48, 33}, buf.data(), ERROR_INVALID_HANDLE},
        {{47, 32}, buf.data(), ERROR_INVALID_HANDLE},
        {{48, 32}, nullptr, ERROR_OUTOFMEMORY},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(engine.DecompressInto(hBlob, c.p, &c.size));
        EXPECT_EQ(GetLastError(), c.code) << c.size.cx << "x" << c.size.cy;
        ExpectIdle(engine);
    }
    EXPECT_FALSE(engine.DecompressInto(hBlob, buf.data(), nullptr));
    EXPECT_EQ(GetLastError(), E_POINTER);
    EXPECT_EQ(buf, std::vector<DWORD>(buf.size(), 0x11111111u)) << "a refused call wrote pixels";
    EXPECT_EQ(GlobalFlags(hBlob), 0u);
    CJpeEngine::FreeBlob(hBlob);
}

TEST(JpeEngineErrors, HostileBlobsNeverCrash) {
    const std::vector<BYTE> good = SampleBlobBytes(40, 24);
    const DWORD dwAlpha = LoadLe32(&good[16]);
    std::vector<std::vector<BYTE>> inputs;
    for (size_t i = 0; i < good.size(); i += 3) {   // one flipped bit per input
        std::vector<BYTE> b = good;
        b[i] ^= (BYTE)(1u << (i % 8));
        inputs.push_back(b);
    }
    for (size_t n = 0; n < good.size(); n += 97) inputs.emplace_back(good.begin(), good.begin() + (ptrdiff_t)n);
    for (DWORD cut : {1u, 50u, 200u}) {   // streams cut short, lengths consistent
        std::vector<BYTE> b = good;
        PutU32At(b, 16, dwAlpha - cut);
        b.erase(b.begin() + 20 + (dwAlpha - cut), b.begin() + 20 + dwAlpha);
        inputs.push_back(b);
    }
    int nDecoded = 0;
    for (const std::vector<BYTE>& b : inputs) {
        HGLOBAL hBlob = BlobFromBytes(b);
        SIZE s = CJpeEngine::GetBlobSize(hBlob);
        bool bSmall = s.cx > 0 && s.cy > 0 && (LONGLONG)s.cx * s.cy < (1 << 20);
        auto codes = DecodeCodes(hBlob, bSmall ? s.cx : 1, bSmall ? s.cy : 1);
        for (DWORD c : {codes.first, codes.second})
            EXPECT_TRUE(c == 0 || c == ERROR_INVALID_HANDLE || c == ERROR_INVALID_DATA || c == ERROR_OUTOFMEMORY) << c;
        nDecoded += codes.first == 0;
        CJpeEngine::FreeBlob(hBlob);
    }
    EXPECT_GT(nDecoded, 3);   // the cut streams end in an inserted end-of-image marker and decode
}

TEST(JpeEngineErrors, QualityAndClassNames) {
    CJpeEngine engine;
    struct Case {
        BYTE q;
        BOOL ok;
        BYTE after;
    } cases[] = {
        {4, FALSE, 75},
        {96, FALSE, 75},
        {0, FALSE, 75},
        {255, FALSE, 75},
        {5, TRUE, 5},
        {95, TRUE, 95},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(engine.SetQuality(c.q), c.ok) << (int)c.q;
        EXPECT_EQ(engine.GetQuality(), c.after);
        engine.SetQuality(75);
    }
    std::vector<DWORD> src = GradientFrame(48, 32, 48);
    HGLOBAL h75 = engine.CompressImage(48, 32, src.data(), 48);
    engine.SetQuality(95);
    HGLOBAL h95 = engine.CompressImage(48, 32, src.data(), 48);
    ASSERT_TRUE(h75 && h95);
    EXPECT_GT(SplitBlob(h95).colour.size(), SplitBlob(h75).colour.size());
    CJpeEngine::FreeBlob(h75);
    CJpeEngine::FreeBlob(h95);

    CEngine base;
    EXPECT_STREQ(base.GetRuntimeClass()->pszClassName, "CEngine");
    EXPECT_EQ(engine.GetOption(), 1);
    const CEngine& asBase = engine;
    EXPECT_STREQ(asBase.GetRuntimeClass()->pszClassName, "CJpeEngine");
    EXPECT_TRUE(asBase.GetRuntimeClass()->IsDerivedFrom(&CEngine::classCEngine));
    EXPECT_FALSE(base.GetRuntimeClass()->IsDerivedFrom(&CJpeEngine::classCJpeEngine));
}

TEST(JpeEngineErrors, LockBlobLeavesABadHeaderLockedForItsCaller) {
    std::vector<BYTE> bytes = SampleBlobBytes();
    PutU32At(bytes, 0, 0x12345678u);
    HGLOBAL hBlob = BlobFromBytes(bytes);
    JpegBlobInfo info;
    EXPECT_FALSE(CJpeEngine::LockBlob(&info, hBlob, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    EXPECT_EQ(GlobalFlags(hBlob), 1u);
    EXPECT_TRUE(CJpeEngine::LockBlob(nullptr, hBlob, FALSE));
    EXPECT_EQ(GlobalFlags(hBlob), 0u);
    CJpeEngine::FreeBlob(hBlob);
}

TEST(JpeEngineErrors, BusyLockSerialisesOperations) {
    HGLOBAL hBlob = BlobFromBytes(SampleBlobBytes());
    CJpeEngine engine;
    engine.Lock();
    std::atomic<bool> bDone{false};
    std::thread t([&] {
        std::unique_ptr<BYTE[]> p(engine.Decompress(hBlob));
        bDone = p != nullptr;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_FALSE(bDone.load()) << "an operation ran while the engine was held";
    engine.Unlock();
    t.join();
    EXPECT_TRUE(bDone.load());
    ExpectIdle(engine);

    // Many short holders: never two inside at once, and nobody is left waiting.
    std::atomic<int> nInside{0}, nOverlap{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; i++)
        threads.emplace_back([&] {
            for (int k = 0; k < 300; k++) {
                engine.Lock();
                if (nInside.fetch_add(1) != 0) nOverlap++;
                nInside.fetch_sub(1);
                engine.Unlock();
            }
        });
    for (std::thread& th : threads) th.join();
    EXPECT_EQ(nOverlap.load(), 0);
    ExpectIdle(engine);
    CJpeEngine::FreeBlob(hBlob);
}
