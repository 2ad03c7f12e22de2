// A stand-in for the host's support library: image services that paint
// x + 256 y with alpha 255 at any size, and count their calls.
#include <cstdint>

namespace {
int g_nCalls = 0;
}

// Built twice: with plain names, and (RVO_VX_DECORATED) with the names MSVC
// gives these C++ functions only (VxCommonU.def.in).
#if defined(RVO_VX_DECORATED)
#define RVO_VX_EXPORT
#else
#define RVO_VX_EXPORT __declspec(dllexport)
#endif

extern "C" RVO_VX_EXPORT int VxGetImgInfo(const wchar_t*, int& a, int& b, int& w, int& h) {
    g_nCalls++;
    a = b = 0;
    w = 20;
    h = 10;
    return 1;
}

extern "C" RVO_VX_EXPORT int VxReadImage(const wchar_t*, unsigned long* px, int w, int h) {
    g_nCalls++;
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) px[y * w + x] = 0xFF000000u | (uint32_t)(x + 256 * y);
    return 1;
}

extern "C" __declspec(dllexport) int VxCalls() { return g_nCalls; }
