// What a Windows host knows of the module: the DLL's one export and the
// parameter and frame-buffer records, declared as the host declares them
// (plain structs: the i686 offsets asserted, natural alignment on x86-64).
// Nothing here comes from the module's own headers.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace winhost {

struct HostFrameBuffer {
    uint8_t abUnused0[8];
    int32_t nWidth;
    int32_t nHeight;
    int32_t nStride;   // in pixels
    uint8_t abUnused20[4];
    uint32_t* pPixels;
};

typedef int (*PFN_PROGRESS)(int);

struct HostMediaInfo {
    uint8_t abUnused0[40];
    double dTime;
    double dFieldDuration;
    wchar_t szPath[256];
    HostFrameBuffer* pDst;
    RECT rcRegion;
    int32_t nDeliveryMode;
    uint8_t abUnused592[24];
    HostFrameBuffer* pSrc;
    const wchar_t* pszFilter;
    union {
        double dTotalDuration;
        struct {
            int32_t nWidth;
            int32_t nHeight;
        };
    };
    double dDuration;
    int32_t nCaps1;
    int32_t nCaps2;
    uint8_t abUnused648[520];
    PFN_PROGRESS pfnProgress;
    int32_t nCompression;
};

#if defined(__i386__)
static_assert(offsetof(HostFrameBuffer, nWidth) == 8 && offsetof(HostFrameBuffer, nStride) == 16);
static_assert(offsetof(HostFrameBuffer, pPixels) == 24);
static_assert(offsetof(HostMediaInfo, dTime) == 40 && offsetof(HostMediaInfo, dFieldDuration) == 48);
static_assert(offsetof(HostMediaInfo, szPath) == 56 && offsetof(HostMediaInfo, pDst) == 568);
static_assert(offsetof(HostMediaInfo, rcRegion) == 572 && offsetof(HostMediaInfo, nDeliveryMode) == 588);
static_assert(offsetof(HostMediaInfo, pSrc) == 616 && offsetof(HostMediaInfo, pszFilter) == 620);
static_assert(offsetof(HostMediaInfo, dTotalDuration) == 624 && offsetof(HostMediaInfo, nHeight) == 628);
static_assert(offsetof(HostMediaInfo, dDuration) == 632 && offsetof(HostMediaInfo, nCaps1) == 640);
static_assert(offsetof(HostMediaInfo, nCaps2) == 644 && offsetof(HostMediaInfo, pfnProgress) == 1168);
static_assert(offsetof(HostMediaInfo, nCompression) == 1172 && sizeof(HostMediaInfo) == 1176);
#endif

typedef int(WINAPI* MainFn)(unsigned, HostMediaInfo*, HostMediaInfo*, void**);

// Main of the DLL loaded with LoadLibraryW (null and a message when it fails).
MainFn Main();

// A host frame buffer and its pixels, every pixel `fill` at first.
struct Frame {
    HostFrameBuffer fb = {};
    std::vector<uint32_t> px;
    Frame(int32_t w, int32_t h, int32_t stride, uint32_t fill) : px((size_t)stride * h, fill) {
        fb.nWidth = w;
        fb.nHeight = h;
        fb.nStride = stride;
        fb.pPixels = px.data();
    }
    uint32_t& At(int x, int y) { return px[(size_t)y * fb.nStride + x]; }
};

// A zeroed record with the path filled in (the host's own path field).
HostMediaInfo Record(const std::wstring& path = L"");
void PutPath(HostMediaInfo& r, const std::wstring& path);

// Scratch files in winhost-scratch/ under the current folder, as full Windows paths.
std::wstring Scratch(const std::wstring& name);
std::vector<uint8_t> ReadAll(const std::wstring& path);
bool WriteAll(const std::wstring& path, const std::vector<uint8_t>& bytes);

// Little-endian builders for hand-made files.
void U16(std::vector<uint8_t>& v, uint32_t x);
void U32(std::vector<uint8_t>& v, uint32_t x);

extern int g_nFailures;

// Movies of synthetic frames (tests/winhost/WinHostTest.cpp): frame k's pixel
// (x, y); a source frame holding it at (kSrcLeft, kSrcTop); a destination
// filled with kSentinel that receives it at (kDstLeft, kDstTop).
constexpr uint32_t kSentinel = 0xDEADBEEFu;
constexpr int kSrcLeft = 5, kSrcTop = 3, kDstLeft = 7, kDstTop = 5;
uint32_t Pixel(int k, int x, int y);
Frame Source(int k, int w, int h);
Frame Destination(int w, int h);
// Commands 6, 8 (frames 0 .. n-1) and 10; false when a command fails.
bool WriteMovie(const std::wstring& path, int compression, int n, int w, int h);
// Command 7 for time t into dst at (kDstLeft, kDstTop).
int ReadInto(void** slot, HostMediaInfo& in, Frame& dst, int w, int h, double t, int delivery);
int WrongPixels(Frame& dst, int k, int w, int h);

// The Main that Main() gives from now on (null: the DLL loaded once, as at first).
void UseMain(MainFn pfn);

// Cases that hold the host's process to account (tests/winhost/HostProcessTest.cpp).
// Each runs with the DLL not yet loaded and loads it as it needs.
struct HostCase {
    const wchar_t* name;
    void (*run)();
};
extern const HostCase kHostProcessCases[];
extern const int kHostProcessCaseCount;

}   // namespace winhost

#define CHECK(cond)                                                        \
    do {                                                                   \
        if (!(cond)) {                                                     \
            std::printf("%s:%d: failed: %s\n", __FILE__, __LINE__, #cond); \
            winhost::g_nFailures++;                                        \
        }                                                                  \
    } while (0)
#define CHECK_EQ(a, b)                                                                           \
    do {                                                                                         \
        const long long va_ = (long long)(a), vb_ = (long long)(b);                              \
        if (va_ != vb_) {                                                                        \
            std::printf("%s:%d: %s is %lld, expected %lld\n", __FILE__, __LINE__, #a, va_, vb_); \
            winhost::g_nFailures++;                                                              \
        }                                                                                        \
    } while (0)
