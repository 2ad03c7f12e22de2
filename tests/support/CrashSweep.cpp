// Crashed writers and what recovery makes of them.
#include "tests/support/CrashSweep.h"

#include <filesystem>
#include <system_error>

#include "container/PackedRecord.h"
#include "container/RvoFile.h"
#include "platform/CString.h"
#include "platform/RawFile.h"
#include "recover/Recover.h"
#include "tests/support/Movies.h"
#include "tests/support/SyntheticFrames.h"

namespace rvotest {

bool ReadEveryFrame(const std::string& path, int w, int h, bool bMustRead, std::vector<std::vector<uint32_t>>* pFrames) {
    pFrames->clear();
    CRvoFile f;
    if (!f.Open(FromUtf8(path).c_str(), CFile::modeRead | CFile::shareDenyWrite)) return !bMustRead;
    const SIZE size{w, h};
    f.SetFrameSize(&size);
    f.SetFirstFrame(0);
    bool bOk = true;
    for (int k = 0; k < f.GetFrameCount(); k++) {
        std::vector<uint32_t> px((size_t)w * h, 0xDEADBEEF);
        bOk = f.ReadFrame((unsigned)k, px.data(), w, h, TRUE, w) && bOk;
        pFrames->push_back(px);
    }
    f.Close(FALSE);
    return bOk || !bMustRead;
}

std::vector<std::vector<uint32_t>> SweepFrames(LONG nMode, int w, int h, int n) {
    std::vector<std::vector<uint32_t>> v;
    const Content c = nMode == rvo::JpegBlobs ? Content::Gradient : Content::Graphics;
    for (int k = 0; k < n; k++) v.push_back(MakeFrame(w, h, c, (uint32_t)k));
    return v;
}

bool MakeCrashMovie(LONG nMode, int w, int h, int nFrames, const std::string& path, CrashMovie* pMovie,
                    bool* pbHooked) {
    CrashMovie& m = *pMovie;
    m = CrashMovie{};
    m.nMode = nMode;
    m.nWidth = w;
    m.nHeight = h;
    m.path = path;
    m.oldPath = path + "-old";
    m.frames = SweepFrames(nMode, w, h, nFrames);
    const std::string ref = path + "-ref";
    *pbHooked = SetCrashPointOverride(true) != FALSE;
    if (!*pbHooked) return false;
    const bool bWritten = WriteMovie(ref, nMode, w, h, m.frames);
    GetCrashPointCounts(&m.nWrites, &m.nBytes);
    SetCrashPointOverride(false);
    m.bounds = FrameBounds(ref, rvo::RawRecordBytes((ULONGLONG)w * (ULONGLONG)h));
    const bool bRead = bWritten && ReadEveryFrame(ref, w, h, true, &m.want);
    std::error_code ec;
    std::filesystem::remove(ref, ec);
    return bRead && m.want.size() == (size_t)nFrames && m.bounds.size() == (size_t)nFrames + 1 &&
           WriteMovie(m.oldPath, nMode, w, h, SweepFrames(nMode, w, h, nFrames + 2));
}

std::string CheckCrashPoint(const CrashMovie& m, bool bBytes, ULONGLONG k, CrashCounts* pCounts) {
    CrashCounts& c = *pCounts;
    const size_t n = m.frames.size();
    std::error_code ec;
    // Removed first: the Windows C++ library's copy_file refuses to overwrite.
    std::filesystem::remove(m.path, ec);
    std::filesystem::copy_file(m.oldPath, m.path, ec);
    if (ec) return "cannot copy the old movie: " + ec.message();
    SetCrashPointOverride(true, bBytes ? ~0ull : k, bBytes ? k : ~0ull);
    WriteMovie(m.path, m.nMode, m.nWidth, m.nHeight, m.frames);
    ULONGLONG nReached = 0;
    GetCrashPointCounts(nullptr, &nReached);
    SetCrashPointOverride(false);
    c.nPoints++;

    // Frames are appended in order: those that end within the file are whole.
    const uint64_t nOnDisk = std::filesystem::file_size(m.path, ec);
    size_t nWhole = 0;
    while (nWhole < n && m.bounds[nWhole + 1] <= nOnDisk) nWhole++;
    RvoUnfinished s;
    const BOOL bScanned = ScanUnfinished(FromUtf8(m.path).c_str(), nullptr, &s);
    std::vector<std::vector<uint32_t>> got;
    if (bScanned && s.bUnfinished) {
        if (s.nDamaged != 0) return std::to_string(s.nDamaged) + " frames called damaged";
        if (s.nFrames != nWhole)
            return std::to_string(s.nFrames) + " frames found, " + std::to_string(nWhole) + " whole on disk";
        const std::string out = m.path + ".out";
        const bool bWritten = WriteRecovered(FromUtf8(m.path).c_str(), s, FromUtf8(out).c_str()) != FALSE;
        const bool bRead = bWritten && ReadEveryFrame(out, m.nWidth, m.nHeight, true, &got);
        std::filesystem::remove(out, ec);
        if (!bWritten) return "the recovered file was not written";
        c.nRecovered++;
        if (!bRead) return "a recovered frame does not read";
    } else if (nReached == m.nBytes) {
        c.nFinished++;   // the writer's last byte is on disk: the file is finished
        if (!ReadEveryFrame(m.path, m.nWidth, m.nHeight, true, &got)) return "a frame of the finished file does not read";
    } else if (nWhole == n) {
        // Stopped while closing, in the final header: a write within one sector,
        // which a real disk does not tear; the file opens or fails cleanly.
        ReadEveryFrame(m.path, m.nWidth, m.nHeight, false, &got);
        c.nTorn++;
        return "";
    } else {
        // Nothing but a part of the initial header: no frame was written.
        return nWhole == 0 ? "" : "the file is neither unfinished nor finished with " + std::to_string(nWhole) + " whole frames on disk";
    }
    if (got.size() != nWhole)
        return std::to_string(got.size()) + " frames came back, " + std::to_string(nWhole) + " were whole";
    for (size_t i = 0; i < nWhole; i++)
        if (got[i] != m.want[i]) return "frame " + std::to_string(i) + " differs from its input";
    c.nFramesBack += (long long)nWhole;
    return "";
}

}   // namespace rvotest
