// Frames, blob access and reference encoders shared by the codec tests.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include <jpeglib.h>

#include "codec/JpeEngine.h"
#include "platform/GlobalMemory.h"
#include "platform/LastError.h"
#include "tests/support/SyntheticFrames.h"

namespace codectest {

// A frame of smooth colour and alpha gradients with a row step of nStride pixels;
// the padding pixels hold a marker that must never reach a stream.
inline std::vector<DWORD> GradientFrame(int w, int h, int nStride, int nSeed = 0) {
    std::vector<DWORD> v((size_t)nStride * h, 0xDEADBEEFu);
    rvotest::FillFrame(v.data(), w, h, nStride, rvotest::Content::Gradient, (uint32_t)nSeed);
    return v;
}

// PSNR over the given byte lanes (0-2 colour, 3 alpha) of packed decoded pixels
// against the source frame with its stride.
inline double Psnr(const std::vector<DWORD>& src, int w, int h, int nStride, const BYTE* pDecoded,
                   int nFirstLane, int nLanes) {
    double sse = 0;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++)
            for (int k = nFirstLane; k < nFirstLane + nLanes; k++) {
                int a = (int)((src[(size_t)y * nStride + x] >> (8 * k)) & 0xFF);
                int b = pDecoded[((size_t)y * w + x) * 4 + k];
                sse += (double)(a - b) * (a - b);
            }
    double mse = sse / ((double)w * h * nLanes);
    return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

struct BlobParts {
    LONG width = 0, height = 0;
    std::vector<BYTE> alpha, colour;
};

inline BlobParts SplitBlob(HGLOBAL h) {
    BlobParts parts;
    JpegBlobInfo info;
    EXPECT_TRUE(CJpeEngine::LockBlob(&info, h, TRUE));
    parts.width = info.width;
    parts.height = info.height;
    parts.alpha.assign(info.data, info.data + info.alphaBytes);
    parts.colour.assign(info.data + info.alphaBytes, info.data + info.alphaBytes + info.colourBytes);
    CJpeEngine::LockBlob(nullptr, h, FALSE);
    return parts;
}

// A blob block holding exactly the given bytes.
inline HGLOBAL BlobFromBytes(const std::vector<BYTE>& bytes) {
    HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, bytes.size());
    BYTE* p = (BYTE*)GlobalLock(h);
    std::copy(bytes.begin(), bytes.end(), p);
    GlobalUnlock(h);
    return h;
}

inline std::vector<BYTE> BlobBytes(HGLOBAL h) {
    const BYTE* p = (const BYTE*)GlobalLock(h);
    std::vector<BYTE> v(p, p + GlobalSize(h));
    GlobalUnlock(h);
    return v;
}

// The plain way to make the two streams: per-row conversion into 3-byte RGB
// and 1-byte grey rows, libjpeg defaults, quality 75 with baseline forced.
inline std::vector<BYTE> ReferenceStream(const std::vector<DWORD>& src, int w, int h, int nStride, bool bColour) {
    jpeg_compress_struct c;
    jpeg_error_mgr err;
    c.err = jpeg_std_error(&err);
    jpeg_create_compress(&c);
    unsigned char* pOut = nullptr;
    unsigned long nOut = 0;
    jpeg_mem_dest(&c, &pOut, &nOut);
    c.image_width = (JDIMENSION)w;
    c.image_height = (JDIMENSION)h;
    c.input_components = bColour ? 3 : 1;
    c.in_color_space = bColour ? JCS_RGB : JCS_GRAYSCALE;
    jpeg_set_defaults(&c);
    jpeg_set_quality(&c, 75, TRUE);
    jpeg_start_compress(&c, TRUE);
    std::vector<BYTE> row((size_t)w * 3);
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            DWORD px = src[(size_t)y * nStride + x];
            if (bColour) {
                row[3 * x] = (BYTE)(px >> 16);
                row[3 * x + 1] = (BYTE)(px >> 8);
                row[3 * x + 2] = (BYTE)px;
            } else {
                row[x] = (BYTE)(px >> 24);
            }
        }
        JSAMPROW r = row.data();
        jpeg_write_scanlines(&c, &r, 1);
    }
    jpeg_finish_compress(&c);
    std::vector<BYTE> v(pOut, pOut + nOut);
    jpeg_destroy_compress(&c);
    std::free(pOut);
    return v;
}

inline void ExpectIdle(const CJpeEngine& e) {
    EXPECT_FALSE(e.IsInitialized());
    EXPECT_FALSE(e.IsBusy());
}

}   // namespace codectest
