// Times the JPEG engine against bare libjpeg doing the same two streams
// (alpha and colour) on the same frames in the same run, and prints the ratio.
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "bench/BenchSupport.h"
#include "codec/JpeEngine.h"
#include "codec/JpegGlue.h"
#include "platform/GlobalMemory.h"
#include "tests/support/SyntheticFrames.h"

namespace {

// Bare libjpeg: objects made once, memory destination and source, the
// fewest calls that produce the engine's two streams and decoded bytes.
struct Baseline {
    jpeg_compress_struct colour{}, alpha{};
    jpeg_decompress_struct dec{};
    jpeg_error_mgr err{};
    std::vector<BYTE> out, plane;
    std::vector<JSAMPROW> rows, planeRows;
    unsigned long nAlpha = 0, nColour = 0;
    int w, h;

    Baseline(int w_, int h_) : w(w_), h(h_) {
        colour.err = alpha.err = dec.err = jpeg_std_error(&err);
        jpeg_create_compress(&colour);
        jpeg_create_compress(&alpha);
        jpeg_create_decompress(&dec);
        colour.input_components = 4;
        colour.in_color_space = JCS_EXT_BGRX;
        jpeg_set_defaults(&colour);
        jpeg_set_quality(&colour, 75, TRUE);
        alpha.input_components = 1;
        alpha.in_color_space = JCS_GRAYSCALE;
        jpeg_set_defaults(&alpha);
        jpeg_set_quality(&alpha, 75, TRUE);
        colour.image_width = alpha.image_width = (JDIMENSION)w;
        colour.image_height = alpha.image_height = (JDIMENSION)h;
        out.resize((size_t)w * h * 4);
        plane.resize((size_t)w * h);
        rows.resize((size_t)h);
        planeRows.resize((size_t)h);
        for (int y = 0; y < h; y++) planeRows[y] = &plane[(size_t)y * w];
    }
    ~Baseline() {
        jpeg_destroy_compress(&colour);
        jpeg_destroy_compress(&alpha);
        jpeg_destroy_decompress(&dec);
    }

    void Compress(const DWORD* px) {
        for (int y = 0; y < h; y++) {
            rows[y] = (JSAMPROW)(px + (size_t)y * w);
            const BYTE* s = (const BYTE*)rows[y];
            BYTE* d = planeRows[y];
            for (int x = 0; x < w; x++) d[x] = s[4 * x + 3];
        }
        unsigned char* p = out.data();
        nAlpha = out.size();
        jpeg_mem_dest(&alpha, &p, &nAlpha);
        jpeg_start_compress(&alpha, TRUE);
        jpeg_write_scanlines(&alpha, planeRows.data(), (JDIMENSION)h);
        jpeg_finish_compress(&alpha);
        p = out.data() + nAlpha;
        nColour = out.size() - nAlpha;
        jpeg_mem_dest(&colour, &p, &nColour);
        jpeg_start_compress(&colour, TRUE);
        jpeg_write_scanlines(&colour, rows.data(), (JDIMENSION)h);
        jpeg_finish_compress(&colour);
    }

    void Decompress(const BYTE* pAlpha, size_t nA, const BYTE* pColour, size_t nC, BYTE* pOut) {
        for (int y = 0; y < h; y++) rows[y] = pOut + (size_t)y * w * 4;
        jpeg_mem_src(&dec, pColour, (unsigned long)nC);
        jpeg_read_header(&dec, TRUE);
        dec.out_color_space = JCS_EXT_BGRX;
        jpeg_start_decompress(&dec);
        while (dec.output_scanline < dec.output_height)
            jpeg_read_scanlines(&dec, rows.data() + dec.output_scanline, dec.output_height - dec.output_scanline);
        jpeg_finish_decompress(&dec);
        jpeg_mem_src(&dec, pAlpha, (unsigned long)nA);
        jpeg_read_header(&dec, TRUE);
        jpeg_start_decompress(&dec);
        while (dec.output_scanline < dec.output_height)
            jpeg_read_scanlines(&dec, planeRows.data() + dec.output_scanline, dec.output_height - dec.output_scanline);
        jpeg_finish_decompress(&dec);
        for (size_t i = 0; i < plane.size(); i++) pOut[4 * i + 3] = plane[i];
    }
};

bool RunCase(int w, int h) {
    // Natural video carries a realistic amount of detail into the colour stream.
    const std::vector<DWORD> frame = rvotest::MakeFrame(w, h, rvotest::Content::Natural);
    const size_t nFrameBytes = 4 * (size_t)w * h;
    Baseline base(w, h);
    CJpeEngine check;
    HGLOBAL hBlob = check.CompressImage(w, h, frame.data(), w);
    char what[64];
    std::snprintf(what, sizeof what, "%dx%d", w, h);
    if (!rvobench::Verified(hBlob != nullptr, what, "the engine does not compress the frame")) return false;
    JpegBlobInfo info;
    CJpeEngine::LockBlob(&info, hBlob, TRUE);
    base.Compress(frame.data());
    bool bSame = info.alphaBytes == base.nAlpha && info.colourBytes == base.nColour &&
                 std::memcmp(info.data, base.out.data(), base.nAlpha + base.nColour) == 0;
    std::vector<BYTE> streams(info.data, info.data + info.alphaBytes + info.colourBytes);
    DWORD nA = info.alphaBytes;
    CJpeEngine::LockBlob(nullptr, hBlob, FALSE);
    std::unique_ptr<BYTE[]> pDec(check.Decompress(hBlob));
    std::vector<BYTE> baseOut((size_t)w * h * 4);
    base.Decompress(streams.data(), nA, streams.data() + nA, streams.size() - nA, baseOut.data());
    bSame = bSame && pDec && std::memcmp(pDec.get(), baseOut.data(), baseOut.size()) == 0;
    if (!rvobench::Verified(bSame, what, "engine and libjpeg disagree")) {
        CJpeEngine::FreeBlob(hBlob);
        return false;
    }
    std::printf("%s natural video: streams %u + %u bytes, round trip verified\n", what, nA,
                (unsigned)(streams.size() - nA));

    auto row = [&](const char* op, const rvobench::Step& engine, const rvobench::Step& libjpeg) {
        char label[64];
        std::snprintf(label, sizeof label, "%-10s %s, engine", op, what);
        rvobench::PrintRow(label, rvobench::Time(engine, libjpeg), nFrameBytes, "libjpeg");
    };
    row(
        "compress",
        [&](int) {
            CJpeEngine engine;
            CJpeEngine::FreeBlob(engine.CompressImage(w, h, frame.data(), w));
        },
        [&](int) { base.Compress(frame.data()); });
    auto baseDecompress = [&](int) {
        base.Decompress(streams.data(), nA, streams.data() + nA, streams.size() - nA, baseOut.data());
    };
    row(
        "decompress",
        [&](int) {
            CJpeEngine engine;
            delete[] engine.Decompress(hBlob);
        },
        baseDecompress);
    CJpeEngine embedded;
    SIZE size = {w, h};
    std::vector<DWORD> into((size_t)w * h);
    row(
        "dec-into", [&](int) { embedded.DecompressInto(hBlob, into.data(), &size); }, baseDecompress);
    CJpeEngine::FreeBlob(hBlob);
    return true;
}

}   // namespace

int main() {
    bool ok = RunCase(1920, 1080);
    ok = RunCase(720, 486) && ok;
    return ok ? 0 : 1;
}
