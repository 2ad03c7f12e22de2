// One picture blob through the engine's decoders: Decompress into a new array,
// DecompressInto at the blob's own size and at another size. The blob's stated
// frame is capped so that one input decodes quickly.
#include <cstring>
#include <memory>
#include <vector>

#include "codec/JpeEngine.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"
#include "platform/GlobalMemory.h"

namespace rvofuzz {

namespace {

constexpr LONG kMaxSide = 256;

}   // namespace

int PictureBlobTarget(const uint8_t* p, size_t n) {
    Setup();
    if (n < JPEG_BLOB_HEADER_BYTES) return 0;
    const LONG cx = (LONG)LoadLe32(p + JPEG_BLOB_OFS_WIDTH), cy = (LONG)LoadLe32(p + JPEG_BLOB_OFS_HEIGHT);
    if (cx > kMaxSide || cy > kMaxSide) return 0;

    HGLOBAL hBlob = GlobalAlloc(GMEM_MOVEABLE, n);
    Expect(hBlob != nullptr, "GlobalAlloc failed");
    BYTE* pBlock = static_cast<BYTE*>(GlobalLock(hBlob));
    std::memcpy(pBlock, p, n);
    // Most inputs carry the right magic, so the fuzzer spends its time past it.
    if (p[0] & 1) StoreLe32(pBlock, JPEG_BLOB_MAGIC);
    GlobalUnlock(hBlob);

    CJpeEngine engine;
    BYTE* pPixels = engine.Decompress(hBlob);
    if (pPixels) {
        Expect(cx > 0 && cy > 0, "a blob without pixels decoded");
        delete[] pPixels;
    }
    if (cx > 0 && cy > 0) {
        const SIZE size{cx, cy};
        std::unique_ptr<DWORD[]> dst(new DWORD[(size_t)cx * cy]);
        engine.DecompressInto(hBlob, dst.get(), &size);
        // A smaller destination must be refused, not overrun.
        const SIZE smaller{cx, cy - 1};
        if (cy > 1) {
            std::unique_ptr<DWORD[]> small(new DWORD[(size_t)cx * (cy - 1)]);
            Expect(!engine.DecompressInto(hBlob, small.get(), &smaller), "DecompressInto took a size not the blob's");
        }
    }
    Expect(GlobalFlags(hBlob) == 0, "the engine left the blob locked");
    CJpeEngine::FreeBlob(hBlob);
    return 0;
}

}   // namespace rvofuzz
