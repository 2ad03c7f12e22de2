#include "fuzz/FuzzSupport.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>

#include "platform/Cpu.h"
#include "platform/HostImageServices.h"

namespace rvofuzz {

namespace {

std::string g_strDir;
std::vector<std::string> g_arrScratch;   // removed when the process ends

void RemoveScratch() {
    for (const std::string& path : g_arrScratch) std::remove(path.c_str());
}

// A still named in an index never comes from the disk: a fuzzed name may be
// any path, including devices that never end.
int StubReadImage(const WCHAR*, DWORD* pPixels, int nWidth, int nHeight) {
    if (!pPixels || nWidth != kStillSize || nHeight != kStillSize) return 0;
    for (int i = 0; i < nWidth * nHeight; i++) pPixels[i] = 0xFF000000u | (DWORD)(i * 0x010203);
    return 1;
}

int StubGetImgInfo(const WCHAR*, int*, int*, int* pWidth, int* pHeight) {
    *pWidth = kStillSize;
    *pHeight = kStillSize;
    return 1;
}

}   // namespace

void Finding(const char* pszWhat) {
    std::fprintf(stderr, "rvo fuzz finding: %s\n", pszWhat);
    std::fflush(stderr);
    std::abort();
}

void Setup() {
    static bool bDone = false;
    if (bDone) return;
    bDone = true;
    DetectSse2();
    SetReadImageFunc(StubReadImage);
    SetGetImgInfoFunc(StubGetImgInfo);
    const char* pszDir = std::getenv("RVO_FUZZ_DIR");
    struct stat st;
    if (pszDir && *pszDir) g_strDir = pszDir;
    else if (stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0) g_strDir = "/dev/shm";
    else g_strDir = "/tmp";
    std::atexit(RemoveScratch);
}

std::string ScratchPath(const char* tag) {
    Setup();
    std::string path = g_strDir + "/rvofuzz-" + std::to_string((long)getpid()) + "-" + tag + ".rvo";
    RemoveAtExit(path);
    return path;
}

void RemoveAtExit(const std::string& path) {
    Setup();
    if (std::find(g_arrScratch.begin(), g_arrScratch.end(), path) == g_arrScratch.end()) g_arrScratch.push_back(path);
}

void WriteScratch(const std::string& path, const uint8_t* p, size_t n) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) Finding("cannot write the scratch file");
    if (n && std::fwrite(p, 1, n, f) != n) Finding("cannot write the scratch file");
    std::fclose(f);
}

HostMediaInfo HostRecordFor(const std::string& path) {
    HostMediaInfo in{};
    const std::u16string wide = Wide(path);
    Expect(wide.size() < kHostPathChars, "scratch path longer than the host's field");
    std::memcpy(in.szPath, wide.c_str(), (wide.size() + 1) * sizeof(WCHAR));
    in.dFieldDuration = 1.0;
    return in;
}

HostMediaInfo ScratchInput(const char* tag, const uint8_t* p, size_t n) {
    const std::string path = ScratchPath(tag);
    WriteScratch(path, p, n);
    return HostRecordFor(path);
}

bool HeaderFrameTooLarge(const uint8_t* p, size_t n, uint64_t nMaxPixels) {
    if (n < 32) return false;
    const int32_t cx = (int32_t)LoadLe32(p + 24), cy = (int32_t)LoadLe32(p + 28);
    if (cx <= 0 || cy <= 0) return false;
    return (uint64_t)cx * (uint64_t)cy > nMaxPixels;
}

CanaryBuffer::CanaryBuffer(int nStride, int nHeight, size_t nPad)
    : m_nStride(nStride), m_nHeight(nHeight), m_nPad(nPad), m_px((size_t)nStride * (size_t)nHeight + 2 * nPad, kCanary) {}

HostFrameBuffer CanaryBuffer::HostBuffer() {
    HostFrameBuffer b{};
    b.nWidth = m_nStride;
    b.nHeight = m_nHeight;
    b.nStride = m_nStride;
    b.pPixels = At(0, 0);
    return b;
}

void CanaryBuffer::Reset() { std::fill(m_px.begin(), m_px.end(), kCanary); }

void CanaryBuffer::Check(int x, int y, int w, int h, const char* pszWhat) const {
    for (size_t i = 0; i < m_px.size(); i++) {
        if (m_px[i] == kCanary) continue;
        bool bInside = false;
        if (i >= m_nPad && i < m_nPad + (size_t)m_nStride * m_nHeight) {
            const int yy = (int)((i - m_nPad) / m_nStride), xx = (int)((i - m_nPad) % m_nStride);
            bInside = xx >= x && xx < x + w && yy >= y && yy < y + h;
        }
        if (!bInside) Finding(pszWhat);
    }
}

}   // namespace rvofuzz
