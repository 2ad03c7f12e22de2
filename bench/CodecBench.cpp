// Times the JPEG engine against bare libjpeg doing the same two streams
// (alpha and colour) on the same frames in the same run, and prints the ratio.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <vector>

#include "codec/JpeEngine.h"
#include "platform/GlobalMemory.h"

namespace {

// A frame with smooth gradients and some fine texture, so that the streams
// carry a realistic amount of detail.
std::vector<DWORD> MakeFrame(int w, int h) {
    std::vector<DWORD> v((size_t)w * h);
    unsigned seed = 12345;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            seed = seed * 1103515245u + 12345u;
            int n = (int)((seed >> 16) & 15) - 8;
            auto clamp = [](int c) { return (DWORD)std::min(255, std::max(0, c)); };
            DWORD b = clamp(x * 255 / w + n);
            DWORD g = clamp(y * 255 / h + n);
            DWORD r = clamp((int)(128 + 100 * std::sin((x + y) * 0.01)) + n);
            DWORD a = clamp((x + y) * 255 / (w + h));
            v[(size_t)y * w + x] = b | (g << 8) | (r << 16) | (a << 24);
        }
    return v;
}

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

double Seconds(const std::function<void()>& f) {
    auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

// Runs engine and baseline alternately (after one warm-up each) and prints both and the ratio.
double Compare(const char* what, int w, int h, int nReps, const std::function<void()>& engine,
               const std::function<void()>& baseline) {
    engine();
    baseline();
    std::vector<double> te, tb;
    for (int i = 0; i < nReps; i++) {
        te.push_back(Seconds(engine));
        tb.push_back(Seconds(baseline));
    }
    double e = Median(te), b = Median(tb), mb = 4.0 * w * h / 1e6;
    std::printf("%-10s %4dx%-4d x%-3d engine %7.2f ms (%6.1f frames/s, %6.1f MB/s)  libjpeg %7.2f ms  ratio %.3f\n",
                what, w, h, nReps, e * 1e3, 1 / e, mb / e, b * 1e3, e / b);
    return e / b;
}

bool RunCase(int w, int h, int nReps) {
    std::vector<DWORD> frame = MakeFrame(w, h);
    Baseline base(w, h);
    CJpeEngine check;
    HGLOBAL hBlob = check.CompressImage(w, h, frame.data(), w);
    if (!hBlob) {
        std::printf("compress failed\n");
        return false;
    }
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
    if (!bSame) {
        std::printf("%dx%d: engine and libjpeg disagree; not timed\n", w, h);
        return false;
    }
    std::printf("%dx%d: streams %u + %u bytes, round trip verified\n", w, h, nA, (unsigned)(streams.size() - nA));

    Compare("compress", w, h, nReps,
            [&] {
                CJpeEngine engine;
                CJpeEngine::FreeBlob(engine.CompressImage(w, h, frame.data(), w));
            },
            [&] { base.Compress(frame.data()); });
    Compare("decompress", w, h, nReps,
            [&] {
                CJpeEngine engine;
                delete[] engine.Decompress(hBlob);
            },
            [&] { base.Decompress(streams.data(), nA, streams.data() + nA, streams.size() - nA, baseOut.data()); });
    CJpeEngine embedded;
    SIZE size = {w, h};
    std::vector<DWORD> into((size_t)w * h);
    Compare("dec-into", w, h, nReps, [&] { embedded.DecompressInto(hBlob, into.data(), &size); },
            [&] { base.Decompress(streams.data(), nA, streams.data() + nA, streams.size() - nA, baseOut.data()); });
    CJpeEngine::FreeBlob(hBlob);
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int nReps = argc > 1 ? std::atoi(argv[1]) : 41;
    bool ok = RunCase(1920, 1080, nReps);
    ok = RunCase(720, 486, nReps * 2 + 1) && ok;
    return ok ? 0 : 1;
}
