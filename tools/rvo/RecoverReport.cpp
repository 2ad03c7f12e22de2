// Rebuilding an unfinished file, mending a JPEG movie's damaged copies, and
// the report of either.
#include "tools/rvo/RecoverReport.h"

#include <cstdio>
#include <filesystem>
#include <memory>
#include <system_error>

#include "container/RvoFormat.h"
#include "platform/CString.h"
#include "platform/LastError.h"
#include "recover/Recover.h"
#include "recover/Repair.h"
#include "tools/rvo/System.h"
#include "tools/rvo/ToolSupport.h"
#include "tools/rvo/VerifyFile.h"

namespace {

// The copies of every picture checked: the mends that make both copies whole
// (with the frames they mend), and the frames that cannot be mended, why.
void PlanMends(CRvoFile& file, std::vector<RvoCopyMend>& mends, RecoverReport& r) {
    for (int i = 0; i < file.GetEntryCount(); i++) {
        const long long nFrame = file.GetEntry(i)->m_nStartFrame;
        const PictureCopies p = CheckPictureCopies(file, i);
        if (p.nCopies == 0 || (p.nWhole >= 0 && !p.bDiffer)) continue;   // no blob, or both copies whole
        ReportedFrame f;
        f.nFrame = nFrame;
        if (p.nWhole < 0) {
            f.strWhat = std::string(p.nCopies == 1 ? "its only copy" : "both copies") + " of its picture are damaged (" +
                        p.strWhy[0] + ")";
            r.damaged.push_back(f);
            continue;
        }
        if (p.bUndecided) {
            f.strWhat = "the two copies of its picture differ and both decode, so which one is damaged cannot be told";
            r.damaged.push_back(f);
            continue;
        }
        const int nBad = 1 - p.nWhole;
        RvoCopyMend m;
        m.nFrom = p.anAt[p.nWhole];
        m.nTo = p.anAt[nBad];
        m.nBytes = p.anBytes[p.nWhole];
        if (!RvoCopyMendFits(file, i, m)) {
            f.strWhat = "the whole copy of its picture is longer than the place of the damaged " + p.Name(nBad);
            r.damaged.push_back(f);
            continue;
        }
        f.strWhat = "the " + p.Name(nBad) + " from the " + p.Name(p.nWhole);
        r.mended.push_back(f);
        mends.push_back(m);
    }
}

std::string FrameList(const std::vector<ReportedFrame>& frames) {
    std::string s;
    for (const ReportedFrame& f : frames) s += (s.empty() ? "" : ", ") + std::to_string(f.nFrame);
    return s;
}

}   // namespace

RecoverReport RepairMovie(const std::string& input, const OutputTarget& target, const std::string& strDefaultSuffix) {
    const RvoUnfinished scan = ScanRvoOrFail(input);
    FailIfUnfinished(input, scan);
    std::unique_ptr<CRvoFile> file = OpenRvoOrFail(input);
    if (scan.nMode != rvo::JpegBlobs && scan.nMode != rvo::kModeLegacyBlobs)
        FailFile(input, std::string("a ") + ModeName(scan.nMode) +
                            " file, not a JPEG movie: only JPEG movies keep two copies of every picture to "
                            "repair from; it is unchanged");
    RecoverReport r;
    r.strInput = input;
    r.bRepair = true;
    r.nMode = scan.nMode;
    const MovieShape shape = ReadMovieShapeOrFail(input);
    r.nFrames = shape.nFrames;
    r.nWidth = shape.nWidth;
    r.nHeight = shape.nHeight;

    // Nothing is written over an existing file unless asked.
    COutputFile out(input, target, strDefaultSuffix);
    std::vector<RvoCopyMend> mends;
    PlanMends(*file, mends, r);
    r.nIntact = r.nFrames - (long long)r.damaged.size();
    if (mends.empty()) {
        file->Close(FALSE);
        if (!r.damaged.empty())
            FailFile(input, "frame " + std::to_string(r.damaged.front().nFrame) + ": " + r.damaged.front().strWhat +
                                "; there is no whole copy to repair it from; it is unchanged",
                     ERROR_FILE_CORRUPT);
        return r;   // nothing to repair, nothing written
    }

    // The mended file appears only whole: a copy mended beside its destination, checked, then renamed.
    std::error_code ec;
    std::filesystem::copy_file(FsPath(input), FsPath(out.TempPath()), std::filesystem::copy_options::overwrite_existing,
                               ec);
    if (ec) out.Fail("repaired", "cannot write " + out.TempPath() + ": " + ec.message());
    SetLastError(ERROR_SUCCESS);
    if (!MendPictureCopies(FromUtf8(out.TempPath()).c_str(), mends.data(), mends.size())) {
        const DWORD dwError = GetLastError() ? GetLastError() : (DWORD)ERROR_WRITE_FAULT;
        out.Fail("repaired", "cannot write " + out.TempPath() + ": " + SystemErrorText(dwError), dwError);
    }
    file->Close(FALSE);
    {
        std::unique_ptr<CRvoFile> check = OpenRvoOrFail(out.TempPath());
        for (int i = 0; i < check->GetEntryCount(); i++) {
            const long long nFrame = check->GetEntry(i)->m_nStartFrame;
            for (const ReportedFrame& f : r.mended) {
                if (f.nFrame != nFrame) continue;
                const PictureCopies p = CheckPictureCopies(*check, i);
                if (p.bDiffer || p.nWhole != 0) out.Fail("repaired", "frame " + std::to_string(nFrame) + " did not read back whole");
            }
        }
        check->Close(FALSE);
    }
    out.Commit();
    r.strOutput = out.Path();
    r.strBackup = out.BackupPath();
    return r;
}

RecoverReport RecoverMovie(const std::string& input, const OutputTarget& target, bool bDropDamaged, const SIZE* pSize,
                           const std::string& strSizeHint) {
    const RvoUnfinished scan = ScanRvoOrFail(input, pSize);
    // A finished JPEG movie keeps two copies of every picture: recovering it is
    // mending a damaged copy from the whole one.
    if (!scan.bUnfinished && (scan.nMode == rvo::JpegBlobs || scan.nMode == rvo::kModeLegacyBlobs))
        return RepairMovie(input, target, "-recovered");
    if (!scan.bUnfinished) FailFile(input, "not an unfinished RVO file (its writer closed it); nothing to recover");
    if (!scan.bSizeKnown)
        FailFile(input, std::string("unfinished ") + ModeName(scan.nMode) +
                            " file without a recorded frame size; give it with " + strSizeHint,
                 ERROR_HANDLE_EOF);

    COutputFile out(input, target, "-recovered");
    SetLastError(ERROR_SUCCESS);
    if (!WriteRecovered(FromUtf8(input).c_str(), scan, FromUtf8(out.TempPath()).c_str(),
                        bDropDamaged ? kDropDamaged : kReplaceDamaged)) {
        const DWORD dwError = GetLastError() ? GetLastError() : (DWORD)ERROR_WRITE_FAULT;
        out.Fail("recovered", DescribeLastError(dwError), dwError);
    }
    out.Commit();

    RecoverReport r;
    r.strInput = input;
    r.strOutput = out.Path();
    r.strBackup = out.BackupPath();
    r.bDropDamaged = bDropDamaged;
    r.nMode = scan.nMode;
    r.nWidth = scan.nWidth;
    r.nHeight = scan.nHeight;
    r.nIntact = scan.nFrames;
    r.nFrames = scan.nFrames;
    r.nDroppedBytes = scan.nFileBytes - scan.nFramesEnd;
    // Every damaged frame by its number in the input, and what took its place.
    const bool bSized = scan.nWidth > 0 && scan.nHeight > 0;
    bool bWhole = false;
    for (size_t i = 0; i < scan.frames.size(); i++) {
        const RvoFrameSpan& s = scan.frames[i];
        if (!s.bDamaged) {
            bWhole = true;
            continue;
        }
        ReportedFrame f;
        f.nFrame = (long long)i;
        f.nAt = s.nAt;
        f.nBytes = s.nBytes;
        f.strWhat = bDropDamaged ? "dropped"
                    : bWhole     ? "replaced by the previous whole frame"
                    : bSized     ? "replaced by a transparent frame"
                                 : "dropped (no whole frame gives the size of a transparent one)";
        if (!bDropDamaged && (bWhole || bSized)) r.nFrames++;
        r.damaged.push_back(f);
    }
    return r;
}

void PrintRecoverReport(const RecoverReport& r) {
    const char* in = r.strInput.c_str();
    const char* out = r.strOutput.c_str();
    const std::string strList = FrameList(r.damaged);
    if (r.bRepair) {
        if (r.strOutput.empty()) {
            std::printf("%s: every picture's two copies agree and decode; nothing to repair, nothing written\n", in);
            return;
        }
        for (const ReportedFrame& f : r.mended) std::printf("%s: frame %lld: %s\n", out, f.nFrame, f.strWhat.c_str());
        for (const ReportedFrame& f : r.damaged) std::printf("%s: frame %lld: %s\n", in, f.nFrame, f.strWhat.c_str());
        std::printf("%s: %zu picture%s repaired from the whole copy, written to %s%s\n", in, r.mended.size(),
                    r.mended.size() == 1 ? "" : "s", out,
                    r.strBackup.empty() ? "" : (" (the original kept as " + r.strBackup + ")").c_str());
        std::fflush(stdout);
        if (!r.damaged.empty())
            FailFile(r.strOutput, "frame " + std::to_string(r.damaged.front().nFrame) + ": " +
                                      r.damaged.front().strWhat + "; no whole copy to repair it from" +
                                      (r.damaged.size() > 1 ? " (and " + std::to_string(r.damaged.size() - 1) + " more)" : ""),
                     ERROR_FILE_CORRUPT);
        return;
    }
    for (const ReportedFrame& f : r.damaged)
        std::fprintf(stderr, "rvo: %s: frame %lld damaged (%llu bytes at %llu), %s\n", in, f.nFrame,
                     (unsigned long long)f.nBytes, (unsigned long long)f.nAt, f.strWhat.c_str());
    std::printf("%s: recovered %lld frames (%s", out, r.nFrames, ModeName(r.nMode));
    if (r.nWidth > 0 && r.nHeight > 0) std::printf(" %dx%d", (int)r.nWidth, (int)r.nHeight);
    std::printf("), %lld intact", r.nIntact);
    const char* pszDone = r.bDropDamaged ? "dropped" : "replaced";
    if (!r.damaged.empty()) std::printf(", %zu damaged %s (%s)", r.damaged.size(), pszDone, strList.c_str());
    std::printf(", %llu bytes after the last whole frame dropped\n", (unsigned long long)r.nDroppedBytes);
    std::fflush(stdout);
    if (!r.damaged.empty())
        FailFile(r.strInput, std::to_string(r.damaged.size()) + " damaged frame" + (r.damaged.size() == 1 ? "" : "s") +
                                 " (" + strList + ") " + pszDone + " in " + r.strOutput,
                 ERROR_FILE_CORRUPT);
}
