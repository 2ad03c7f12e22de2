// The tool as a host: movies written through commands 6, 8 and 10, read
// through commands 5, 7 and 10, preloaded through command 9, with the same
// parameter and frame-buffer records a host application passes to Main.
//
// Time model used throughout: one field lasts 1.0 host time unit, so frame k
// covers fields 2k (even rows) and 2k + 1 (odd rows), at times 2k and 2k + 1.
#pragma once

#include <memory>
#include <string>

#include "encoder/FrameEncode.h"
#include "plugin/HostRecords.h"

// The host's compression choice for command 6 from the tool's mode name
// ("jpeg", "raw", "packed"); -1 for any other name.
LONG CompressionForModeName(const std::string& strMode);

// Preloaded pages are locked, and Linux caps locked memory per process with
// RLIMIT_MEMLOCK. Raises it as far as this process may (to unlimited with the
// privilege, else to the hard limit) and says what it did.
std::string RaiseLockLimit();
// The current RLIMIT_MEMLOCK soft limit in words ("64 KiB", "unlimited").
std::string CurrentLockLimit();

class CHostWriter {
public:
    // Command 6 for a movie of up to nMaxFrames frames of nWidth x nHeight;
    // throws a ToolFailure naming the file when it cannot be created.
    CHostWriter(const std::string& path, LONG nCompression, int nWidth, int nHeight, long long nMaxFrames);
    ~CHostWriter();
    CHostWriter(const CHostWriter&) = delete;
    CHostWriter& operator=(const CHostWriter&) = delete;

    // Command 8 for one frame (row step nStride pixels); its result.
    int Write(const DWORD* pPixels, int nStride);
    // Command 8's bookkeeping for a frame encoded elsewhere (RvoAppendFrame);
    // takes the blob. Same results as Write.
    int Append(RvoEncodedFrame& frame);
    // Command 10: finishes the file. 0 when it is finished (or was closed
    // already), else why not (the module's last error): its frames are then
    // for rvo recover.
    DWORD Close();
    // Command 10 without finalizing: the file is left as its writer had it so
    // far, an unfinished file that rvo recover rebuilds (a caller that failed
    // part way and must not pass off a short movie as finished).
    void Abandon();

private:
    std::unique_ptr<HostMediaInfo> m_pIn;
    RvoHandle* m_pHandle = nullptr;
    int m_nWidth;
    int m_nHeight;
};

struct PreloadReport {
    long long nFramesLoaded = 0;
    long long nFramesTotal = 0;   // as the module announced it to the progress callback
    unsigned long long nBytesLocked = 0;
    DWORD dwLastError = 0;   // why preloading stopped early; 0 when it did not
};

class CHostReader {
public:
    // Command 5; throws a ToolFailure naming the file when it cannot be opened.
    explicit CHostReader(const std::string& path);
    ~CHostReader();
    CHostReader(const CHostReader&) = delete;
    CHostReader& operator=(const CHostReader&) = delete;

    // Both fields of frame k into a packed nWidth x nHeight buffer through two
    // command 7 calls. bAllowCache FALSE forbids delivery from preloaded
    // frames (nDeliveryMode 2). Returns the last error the module left when it
    // could not decode the frame, 0 on success.
    DWORD ReadFrame(long long k, DWORD* pPixels, int nWidth, int nHeight, bool bAllowCache);

    // The next ReadFrame decodes even when its buffer is the one the last
    // read went to (command 7 skips a decode it has already placed there): for
    // callers whose buffers are freed and allocated again, maybe at the same
    // address.
    void ForgetLastDecoded();

    // Command 9 with a progress callback that draws a bar when stderr is a terminal.
    PreloadReport Preload(const std::string& strLabel);

private:
    // The reader's own result for frame k, read into scratch memory.
    DWORD ReadFrameDirectly(long long k, int nWidth, int nHeight);

    std::string m_path;
    std::unique_ptr<HostMediaInfo> m_pIn;
    RvoHandle* m_pHandle = nullptr;
};
