// What the fuzz targets share: scratch files for the paths the module opens,
// host buffers ringed with canary pixels, host image services that never touch
// the disk, and the abort that turns a broken promise into a finding.
//
// A target takes any bytes. The module may refuse them (a zero result, a
// failed command); it may not crash, write outside the area it was given, read
// outside a buffer, or leak. The sanitizers catch the memory faults; the checks
// here catch the ones that stay inside our own allocations.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/ByteOrder.h"   // the targets read the input's words with LoadLe32
#include "platform/Types.h"
#include "plugin/HostRecords.h"
#include "tests/support/TestFiles.h"

namespace rvofuzz {

// Prints what went wrong and aborts, so that libFuzzer and the replay both see a crash.
[[noreturn]] void Finding(const char* pszWhat);
inline void Expect(bool bOk, const char* pszWhat) {
    if (!bOk) Finding(pszWhat);
}

// Once per process: SSE2 detection, stub image services, the scratch folder.
void Setup();

// A path for scratch file `tag` of this process (tmpfs when there is one, as
// the targets write a file per input). Writes the bytes there.
std::string ScratchPath(const char* tag);
// Another file of this process's, removed with the scratch files when it ends.
void RemoveAtExit(const std::string& path);
void WriteScratch(const std::string& path, const uint8_t* p, size_t n);
using rvotest::Wide;

// A host parameter record naming the scratch file, with one field per time unit.
HostMediaInfo HostRecordFor(const std::string& path);
// The input written as scratch file `tag`, and the host record naming it.
HostMediaInfo ScratchInput(const char* tag, const uint8_t* p, size_t n);

// True when the input holds a header whose frame is larger than nMaxPixels:
// the targets that read frames skip it, so that every input runs quickly.
bool HeaderFrameTooLarge(const uint8_t* p, size_t n, uint64_t nMaxPixels);

// A host buffer of nStride x nHeight pixels with nPad canary pixels before and
// after it; every pixel outside the rectangle given to Check starts and must
// stay the canary.
class CanaryBuffer {
public:
    static constexpr uint32_t kCanary = 0xC0DEFACEu;
    CanaryBuffer(int nStride, int nHeight, size_t nPad = 64);
    DWORD* At(int x, int y) { return m_px.data() + m_nPad + (size_t)y * m_nStride + x; }
    // Aborts when a pixel outside the w x h rectangle at (x, y) changed.
    void Check(int x, int y, int w, int h, const char* pszWhat) const;
    void Reset();
    int Stride() const { return m_nStride; }
    int Height() const { return m_nHeight; }
    // The host's frame-buffer record over the whole buffer.
    HostFrameBuffer HostBuffer();

private:
    int m_nStride;
    int m_nHeight;
    size_t m_nPad;
    std::vector<DWORD> m_px;
};

// Stub stills: every name is an 8 x 8 image of a fixed pattern.
constexpr int kStillSize = 8;

}   // namespace rvofuzz
