// Host sessions through the dispatcher with a file call failing at each point.
#include "tests/support/IoErrorSweep.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>
#include <vector>

#include "platform/CString.h"
#include "platform/FaultPoint.h"
#include "platform/LastError.h"
#include "plugin/Dispatch.h"
#include "recover/Recover.h"
#include "tests/support/CrashSweep.h"
#include "tests/support/Movies.h"

namespace rvotest {

namespace {

LONG CompressionOf(LONG nMode) { return nMode == rvo::JpegBlobs ? 1 : nMode == rvo::PackedFrames ? 2 : 0; }

// One host: its parameter record, a frame buffer record and its handle slot.
struct Session {
    std::unique_ptr<HostMediaInfo> in = std::make_unique<HostMediaInfo>();
    HostFrameBuffer buf{};
    RvoHandle* handle = nullptr;
    int w, h;

    Session(const std::string& path, int cx, int cy) : w(cx), h(cy) {
        *in = HostMediaInfo{};
        const std::u16string wide = FromUtf8(path);
        std::copy(wide.begin(), wide.end(), in->szPath);
        in->dFieldDuration = 1.0;
        in->rcRegion = RECT{0, 0, w, h};
        buf.nWidth = w;
        buf.nHeight = h;
        buf.nStride = w;
    }
    ~Session() { Close(); }
    int Run(unsigned nCommand) { return RvoDispatch(nCommand, in.get(), in.get(), &handle); }
    int Close() { return handle ? Run(CMD_CLOSE) : kHostDone; }
    int Create(LONG nMode, int nFrames) {
        in->nCompression = CompressionOf(nMode);
        in->dTotalDuration = 2.0 * (nFrames - 1);
        return Run(CMD_CREATE_WRITE);
    }
    int Write(const std::vector<uint32_t>& frame) {
        buf.pPixels = const_cast<DWORD*>(reinterpret_cast<const DWORD*>(frame.data()));
        in->pSrc = &buf;
        return Run(CMD_WRITE_FRAME);
    }
    // Both fields of frame k into px (from preloaded memory each call delivers one field).
    int Read(int k, std::vector<uint32_t>& px) {
        buf.pPixels = reinterpret_cast<DWORD*>(px.data());
        in->pDst = &buf;
        in->nDeliveryMode = 0;
        int rc = kHostDone;
        for (int parity = 0; parity < 2; parity++) {
            in->dTime = 2.0 * k + parity;
            if (Run(CMD_READ_FRAME) != kHostDone) rc = kHostFailed;
        }
        return rc;
    }
};

ULONGLONG FailedCalls() {
    ULONGLONG nFailed = 0;
    GetFaultPointCounts(nullptr, &nFailed);
    return nFailed;
}

std::string At(ULONGLONG k, const std::string& why) { return "call " + std::to_string(k) + ": " + why; }

// The frames a file holds, read straight or, when it is unfinished, from what recovery rebuilds.
bool FramesHeld(const std::string& path, int w, int h, bool* pbRecovered, std::vector<std::vector<uint32_t>>* pGot) {
    *pbRecovered = false;
    RvoUnfinished s;
    if (ScanUnfinished(FromUtf8(path).c_str(), nullptr, &s) && s.bUnfinished) {
        const std::string out = path + ".out";
        const bool bOk = WriteRecovered(FromUtf8(path).c_str(), s, FromUtf8(out).c_str()) &&
                         ReadEveryFrame(out, w, h, true, pGot);
        std::error_code ec;
        std::filesystem::remove(out, ec);
        *pbRecovered = true;
        return bOk;
    }
    return ReadEveryFrame(path, w, h, true, pGot);
}

std::string WritePoint(LONG nMode, const std::vector<std::vector<uint32_t>>& frames,
                       const std::vector<std::vector<uint32_t>>& want, int w, int h, const std::string& path,
                       ULONGLONG k, DWORD dwError, bool bSticky, IoSweepCounts& c, bool* pbPast) {
    std::error_code ec;
    std::filesystem::remove(path, ec);
    size_t nWritten = 0;
    bool bReported = false;
    int rcClose = kHostDone;
    {
        Session s(path, w, h);
        SetFaultPoint(kFaultAll, k, dwError, bSticky);
        if (s.Create(nMode, (int)frames.size()) != kHostDone) {
            bReported = true;
        } else {
            while (nWritten < frames.size() && s.Write(frames[nWritten]) == kHostDone) nWritten++;
            bReported = nWritten < frames.size();
            rcClose = s.Close();
            bReported = bReported || rcClose != kHostDone;
        }
    }
    const ULONGLONG nFailed = FailedCalls();
    SetFaultPoint(0, 0, 0);
    if (nFailed == 0) {
        *pbPast = true;   // past the session's last call
        return "";
    }
    c.nPoints++;
    if (bReported) c.nReported++;
    bool bRecovered = false;
    std::vector<std::vector<uint32_t>> got;
    if (!std::filesystem::exists(path, ec)) return nWritten == 0 ? "" : At(k, "the file is gone");
    if (rcClose == kHostDone && bReported && nWritten == 0) return "";   // command 6 failed: nothing was written
    if (!FramesHeld(path, w, h, &bRecovered, &got))
        return nWritten == 0 ? "" : At(k, "the frames written do not read back");
    if (rcClose == kHostDone && bRecovered) return At(k, "command 10 said done, but the file is unfinished");
    if (rcClose == kHostDone && got.size() != nWritten)
        return At(k, "command 10 said done with " + std::to_string(got.size()) + " frames in the file, " +
                         std::to_string(nWritten) + " written");
    if (got.size() < nWritten)
        return At(k, std::to_string(nWritten) + " frames reported written, " + std::to_string(got.size()) + " back");
    for (size_t i = 0; i < nWritten; i++)
        if (got[i] != want[i]) return At(k, "frame " + std::to_string(i) + " is not the frame written");
    if (bRecovered) c.nRecovered++;
    if (!bReported) c.nAbsorbed++;
    return "";
}

std::string ReadPoint(IoPhase phase, const std::vector<std::vector<uint32_t>>& want, int w, int h,
                      const std::string& path, ULONGLONG k, DWORD dwError, bool bSticky, IoSweepCounts& c,
                      bool* pbPast) {
    const size_t n = want.size();
    Session s(path, w, h);
    bool bReported = false;
    std::vector<int> failed;   // frames command 7 failed
    std::vector<std::vector<uint32_t>> got(n, std::vector<uint32_t>((size_t)w * h));
    std::vector<int> rc(n, kHostDone);
    SetFaultPoint(kFaultAll, k, dwError, bSticky);
    int rcOpen;
    bool bStoppedEarly = false;
    DWORD dwPreloadError = 0;
    if (phase == IoPhase::Preload) {
        s.in->pfnProgress = nullptr;
        SetLastError(ERROR_SUCCESS);
        rcOpen = s.Run(CMD_PRELOAD);
        dwPreloadError = GetLastError();
        const CRvoFile* f = rcOpen == kHostDone && s.handle ? s.handle->m_pRvoFile : nullptr;
        if (f) {
            const size_t nBlocks = (size_t)f->Cache().GetSize();
            bStoppedEarly = (rvo::IsRecordMode(f->Header().m_nMode) ? nBlocks : nBlocks / 2) < n;
        }
    } else {
        rcOpen = s.Run(CMD_OPEN_READ);
    }
    const ULONGLONG nFailedOpening = FailedCalls();
    if (rcOpen == kHostDone) {
        for (size_t i = 0; i < n; i++) {
            std::fill(got[i].begin(), got[i].end(), 0xDEADBEEFu);
            rc[i] = s.Read((int)i, got[i]);
        }
    }
    const ULONGLONG nFailed = FailedCalls();
    SetFaultPoint(0, 0, 0);
    if (nFailed == 0) {
        *pbPast = true;
        return "";
    }
    c.nPoints++;
    if (rcOpen != kHostDone) {
        c.nReported++;
        return "";
    }
    if (phase == IoPhase::Preload && nFailedOpening && bStoppedEarly && dwPreloadError != dwError)
        return At(k, "preloading stopped early with last error " + std::to_string(dwPreloadError) + ", not " +
                         std::to_string(dwError));
    for (size_t i = 0; i < n; i++) {
        if (rc[i] == kHostDone && got[i] != want[i])
            return At(k, "command 7 said done for frame " + std::to_string(i) + " but gave other pixels");
        if (rc[i] != kHostDone) failed.push_back((int)i);
    }
    if (!failed.empty()) bReported = true;
    if (!bSticky && failed.size() > 1)
        return At(k, "one failed call cost " + std::to_string(failed.size()) + " frames");
    // Asked again, a failed frame is read again (and what preloading loaded still serves).
    for (int i : failed) {
        std::vector<uint32_t> px((size_t)w * h, 0xDEADBEEFu);
        if (s.Read(i, px) != kHostDone || px != want[(size_t)i])
            return At(k, "frame " + std::to_string(i) + " does not read when asked again");
    }
    if (s.Close() != kHostDone) return At(k, "closing a file that was read failed");
    if (bReported) c.nReported++;
    else c.nAbsorbed++;
    return "";
}

}   // namespace

const char* IoPhaseName(IoPhase phase) {
    switch (phase) {
    case IoPhase::Write: return "write";
    case IoPhase::Read: return "read";
    default: return "preload";
    }
}

std::string SweepEveryIoError(int w, int h, int nFrames, const std::string& pathStem) {
    struct ErrorCase {
        DWORD dwError;
        bool bSticky;
        const char* pszName;
    };
    const ErrorCase errors[] = {{ERROR_CRC, false, "EIO once"},
                                {ERROR_ACCESS_DENIED, false, "EACCES once"},
                                {ERROR_DISK_FULL, true, "ENOSPC from then on"}};
    for (LONG nMode : {rvo::JpegBlobs, rvo::RawFrames, rvo::PackedFrames})
        for (IoPhase phase : {IoPhase::Write, IoPhase::Read, IoPhase::Preload})
            for (const ErrorCase& e : errors) {
                IoSweepCounts c;
                const std::string path = pathStem + std::to_string(nMode) + ".rvo";
                std::string failure = SweepIoErrors(nMode, phase, e.dwError, e.bSticky, w, h, nFrames, path, &c);
                std::printf("mode %ld %-7s %-20s %5lld calls failed: %5lld reported, %5lld absorbed, %5lld recovered\n",
                            (long)nMode, IoPhaseName(phase), e.pszName, c.nPoints, c.nReported, c.nAbsorbed, c.nRecovered);
                if (failure.empty() && c.nPoints == 0) failure = "no file call was made";
                if (!failure.empty())
                    return "mode " + std::to_string(nMode) + ", " + IoPhaseName(phase) + ", " + e.pszName + ": " + failure;
            }
    return "";
}

std::string SweepIoErrors(LONG nMode, IoPhase phase, DWORD dwError, bool bSticky, int w, int h, int nFrames,
                          const std::string& path, IoSweepCounts* pCounts, int nStride) {
    RvoModuleAttach();
    const std::vector<std::vector<uint32_t>> frames = SweepFrames(nMode, w, h, nFrames);
    const std::string ref = path + "-ref";
    std::vector<std::vector<uint32_t>> want;
    if (!WriteMovie(ref, nMode, w, h, frames) || !ReadEveryFrame(ref, w, h, true, &want) ||
        want.size() != frames.size())
        return "the clean movie cannot be written";
    std::string failure;
    bool bPast = false;
    for (ULONGLONG k = 1; !bPast && failure.empty(); k += (ULONGLONG)(nStride > 0 ? nStride : 1)) {
        if (phase == IoPhase::Write)
            failure = WritePoint(nMode, frames, want, w, h, path, k, dwError, bSticky, *pCounts, &bPast);
        else
            failure = ReadPoint(phase, want, w, h, ref, k, dwError, bSticky, *pCounts, &bPast);
    }
    std::error_code ec;
    std::filesystem::remove(ref, ec);
    std::filesystem::remove(path, ec);
    return failure;
}

}   // namespace rvotest
