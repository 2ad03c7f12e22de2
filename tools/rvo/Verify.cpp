// rvo verify: every frame of a file decodes, or the first one that does not.
#include <algorithm>
#include <cstdio>
#include <vector>

#include "codec/JpeEngine.h"
#include "container/Limits.h"
#include "decoder/PictureCopies.h"
#include "platform/LastError.h"
#include "tools/rvo/Commands.h"
#include "tools/rvo/OrderedWork.h"
#include "tools/rvo/Progress.h"
#include "tools/rvo/ThreadsOption.h"
#include "tools/rvo/ToolSupport.h"
#include "tools/rvo/VerifyFile.h"
#include "tools/rvo/VerifyReport.h"

long long CheckedFrameCount(CRvoFile& file, const std::string& path) {
    long long n = file.GetFrameCount();
    if (n < 0 || n > (long long)rvo::kMaxEntries)
        FailFile(path, "damaged RVO file (it claims " + std::to_string(n) + " frames)", ERROR_INVALID_DATA);
    return n;
}

namespace {

// A file set up for reading frame by frame at its own size.
void PrepareForChecks(CRvoFile& file) {
    file.PrepareForReading();
}

// "what: the module's reason", or either alone, the reason being dwError's
// (by default the calling thread's last error).
std::string Problem(const std::string& what, DWORD dwError = GetLastError()) {
    const std::string why = dwError ? DescribeLastError(dwError) : std::string();
    return what.empty() ? (why.empty() ? "unknown error" : why) : why.empty() ? what
                                                                              : what + ": " + why;
}

// Why a copy of a picture is damaged; empty when it decodes whole.
std::string CopyProblem(const PictureCopy& c) {
    switch (c.state) {
    case CopyState::Unread: return Problem("it cannot be read", c.dwError);
    case CopyState::Undecoded: return Problem("it does not decode", c.dwError);
    case CopyState::Damaged: return "its JPEG data is damaged";
    default: return "";
    }
}

}   // namespace

std::string PictureCopies::Name(int c) const {
    return anAt[c] == nIndexBlobAt ? "index copy" : "frame-area copy";
}

// Both copies are read and compared and the first decoded; the second is
// decoded only when they differ, to tell which one is damaged.
PictureCopies CheckPictureCopies(CRvoFile& file, int entry) {
    PictureCopies p;
    if (file.GetEntry(entry)->m_hBlob) return p;   // held in memory: no copies in the file
    CJpeEngine engine;
    EntryPicture picture;
    DecodeEntryPicture(file, entry, engine, PictureTarget(), &picture, CopyCheck::Both);
    p.nIndexBlobAt = picture.nIndexBlobAt;
    p.nCopies = picture.nCopies;
    for (int c = 0; c < p.nCopies; c++) {
        const PictureCopy& copy = picture.copies[c];
        p.anAt[c] = copy.nAt;
        p.anBytes[c] = copy.nBytes;
        p.strWhy[c] = CopyProblem(copy);
        // The system failed the read: the copy may be whole.
        if (!p.dwReadError && copy.state == CopyState::Unread && IsIoFailure(copy.dwError)) p.dwReadError = copy.dwError;
        if (p.nWhole < 0 && copy.state == CopyState::Whole) p.nWhole = c;
    }
    p.bDiffer = p.nCopies == 2 && picture.bDiffer;
    p.bUndecided = p.bDiffer && p.strWhy[0].empty() && p.strWhy[1].empty();
    return p;
}

namespace {

// What checking entry i of an index-mode file found.
struct EntryCheck {
    std::string strProblem;   // the picture does not read whole: the frame is damaged
    std::string strDamage;    // one copy is damaged, the frame reads whole from the other
    bool bPartly = false;     // a picture with one copy: nothing to compare it with
    DWORD dwError = 0;        // the system failed a read: nothing is known of the copies
};

EntryCheck CheckEntry(CRvoFile& file, int i, std::vector<DWORD>& pixels) {
    EntryCheck c;
    const LONG cx = file.Header().m_nWidth, cy = file.Header().m_nHeight;
    const RvoIndexEntry* e = file.GetEntry(i);
    const PictureCopies p = CheckPictureCopies(file, i);
    // An image list's entry none of whose blob copies can be read (a length of
    // 0) shows its external still image, as the reader does.
    const bool bStill = e->m_nKind == rvo::kKindStillImage && p.nCopies > 0 && !p.dwReadError &&
                        p.anBytes[0] == 0 && p.anBytes[1] == 0;
    if (p.nCopies == 0 || bStill) {
        SetLastError(ERROR_SUCCESS);
        if (file.RebuildFrame(i, pixels.data(), cx, cy, cx)) return c;
        const bool bBlob = !bStill && (e->m_hBlob || e->m_nIndexBlobAt || e->m_dwBlobOffset);
        c.strProblem = Problem(bBlob ? "picture blob of entry " + std::to_string(i)
                               : e->m_nKind == rvo::kKindStillImage
                                   ? "still image '" + ToUtf8(e->m_strName.Str()) + "' of entry " + std::to_string(i)
                                   : "entry " + std::to_string(i) + " has no picture");
        return c;
    }
    const std::string a = p.Name(0), b = p.nCopies > 1 ? p.Name(1) : "";
    if (p.dwReadError) {
        c.dwError = p.dwReadError;
        c.strProblem = "read error (" + DescribeLastError(p.dwReadError) + ")";
        return c;
    }
    if (p.nCopies == 1) {
        c.bPartly = true;
        if (p.nWhole < 0) c.strProblem = "the only copy of its picture, the " + a + ", is damaged (" + p.strWhy[0] + ")";
    } else if (!p.bDiffer) {
        if (p.nWhole < 0) c.strProblem = "both copies of its picture are damaged alike (" + p.strWhy[0] + ")";
    } else if (p.nWhole < 0) {
        c.strProblem = "both copies of its picture are damaged (" + a + ": " + p.strWhy[0] + "; " + b + ": " + p.strWhy[1] + ")";
    } else if (p.bUndecided) {
        c.strDamage =
            "the two copies of its picture differ and both decode, so which one is damaged cannot be told; "
            "the frame reads from the " +
            a;
    } else {
        const int nBad = 1 - p.nWhole;
        c.strDamage = "the " + p.Name(nBad) + " of its picture is damaged (" + p.strWhy[nBad] +
                      "); the frame reads whole from the " + p.Name(p.nWhole);
    }
    return c;
}

// "frames 0-4, 7" from frame numbers in ascending order.
std::string FrameRanges(const std::vector<long long>& frames) {
    std::string s = frames.size() == 1 ? "frame " : "frames ";
    for (size_t i = 0; i < frames.size();) {
        size_t j = i;
        while (j + 1 < frames.size() && frames[j + 1] == frames[j] + 1) j++;
        if (i) s += ", ";
        s += std::to_string(frames[i]);
        if (j > i) s += "-" + std::to_string(frames[j]);
        i = j + 1;
    }
    return s;
}

// One record or picture checked by a worker.
struct CheckItem {
    long long k = 0;
    std::string strProblem;
    DWORD dwError = 0;
    bool bBad = false;
    std::string strDamage;
    bool bPartly = false;
};

}   // namespace

VerifyResult VerifyFrames(CRvoFile& file, const std::string& path, int nThreads, CProgressBar* pBar) {
    VerifyResult result;
    const LONG cx = file.Header().m_nWidth, cy = file.Header().m_nHeight;
    PrepareForChecks(file);
    result.nFrames = file.GetFrameCount();
    if (result.nFrames <= 0) return result;
    if (cx <= 0 || cy <= 0 || !rvo::FrameSizeAllowed(cx, cy)) {
        result.nBadFrame = 0;
        result.strProblem = "the frame size " + std::to_string(cx) + "x" + std::to_string(cy) + " is not allowed";
        return result;
    }
    const bool bRecords = rvo::IsRecordMode(file.Header().m_nMode);
    const int nEntries = file.GetEntryCount();
    // Records of the raw modes, or pictures of the index modes, in file order.
    const long long nItems = bRecords ? result.nFrames : nEntries;
    if (pBar) pBar->SetTotal(nItems);

    // Worker 0 checks through the caller's file, the others each open their own.
    if (nThreads < 1) nThreads = 1;
    if (nThreads > nItems) nThreads = (int)nItems;
    std::vector<std::unique_ptr<CRvoFile>> others;
    std::vector<CRvoFile*> files{&file};
    for (int w = 1; w < nThreads; w++) {
        others.push_back(OpenRvoOrFail(path));
        PrepareForChecks(*others.back());
        files.push_back(others.back().get());
    }
    std::vector<std::vector<DWORD>> scratch((size_t)nThreads, std::vector<DWORD>((size_t)cx * (size_t)cy));
    std::vector<long long> partly;   // frames checked only in part

    RunOrdered<CheckItem>(
        nThreads, FramesInFlight(nThreads),
        [&](long long k, CheckItem& item) {
            item.k = k;
            return k < nItems;
        },
        [&](int w, CheckItem& item) {
            CRvoFile& f = *files[(size_t)w];
            std::vector<DWORD>& pixels = scratch[(size_t)w];
            if (bRecords) {
                SetLastError(ERROR_SUCCESS);
                item.bBad = !f.ReadFrame((unsigned)item.k, pixels.data(), cx, cy, TRUE, cx);
                item.dwError = item.bBad ? GetLastError() : 0;
                if (item.bBad) item.strProblem = Problem("");
            } else {
                EntryCheck c = CheckEntry(f, (int)item.k, pixels);
                item.strProblem = std::move(c.strProblem);
                item.strDamage = std::move(c.strDamage);
                item.bPartly = c.bPartly;
                item.dwError = c.dwError;
                item.bBad = !item.strProblem.empty();
            }
        },
        [&](long long k, CheckItem& item) {
            if (item.bBad) {
                result.nBadFrame = bRecords ? k : file.GetEntry((int)k)->m_nStartFrame;
                result.strProblem = item.strProblem;
                result.dwBadError = item.dwError;
                return false;
            }
            const long long nFrame = bRecords ? k : file.GetEntry((int)k)->m_nStartFrame;
            if (!item.strDamage.empty()) {
                if (result.nFirstDamagedCopy < 0) result.nFirstDamagedCopy = nFrame;
                result.damagedCopies.push_back("frame " + std::to_string(nFrame) + ": " + item.strDamage);
            }
            if (item.bPartly) partly.push_back(nFrame);
            result.nChecked++;
            if (pBar) pBar->Update(k + 1);
            return true;
        });
    // Raw records carry no check of their pixel bytes: any bytes read are a frame.
    if (file.Header().m_nMode == rvo::RawFrames && result.nChecked > 0) {
        partly.clear();
        for (long long k = 0; k < result.nChecked; k++) partly.push_back(k);
        result.strPartlyChecked = FrameRanges(partly) + " (raw pixel bytes carry no check)";
    } else if (!partly.empty()) {
        result.strPartlyChecked = FrameRanges(partly) + " (one copy of the picture only: nothing to compare it with)";
    }
    if (bRecords || result.nBadFrame >= 0) return result;

    // Every frame of an index-mode file must map to an entry or to a blank frame.
    for (long long k = 0; k < result.nFrames; k++) {
        int entry = file.LocateFrame((unsigned)k);
        if (entry < -1 || entry >= nEntries) {
            SetLastError(ERROR_SUCCESS);
            result.nBadFrame = k;
            result.strProblem = Problem("no index entry shows it");
            return result;
        }
    }
    return result;
}

std::string DamageSummary(const VerifyResult& r) {
    if (r.nBadFrame >= 0 && IsIoFailure(r.dwBadError)) return DescribeFrameFailure(r.nBadFrame, r.dwBadError);
    if (r.nBadFrame >= 0) return "frame " + std::to_string(r.nBadFrame) + " does not decode (" + r.strProblem + ")";
    if (r.damagedCopies.empty()) return "";
    const size_t nMore = r.damagedCopies.size() - 1;
    return r.damagedCopies.front() +
           (nMore ? "; " + std::to_string(nMore) + " more frame" + (nMore == 1 ? "" : "s") + " with a damaged copy, all readable" : "") +
           " (rvo repair writes a copy of the file with both copies whole)";
}

void RegisterVerify(CLI::App& app) {
    auto path = std::make_shared<std::string>();
    auto nThreads = std::make_shared<int>(1);
    CLI::App* cmd = app.add_subcommand("verify", "Check that every frame of an RVO file decodes.");
    cmd->footer(
        "Check that every frame of an RVO file decodes, with the module's own checks:\n"
        "every record of a raw or packed file is read and checked, every picture blob\n"
        "of a JPEG file decoded, every still image of an image list read. Exit 1 names\n"
        "the first frame that does not.\n"
        "\n"
        "A JPEG file stores each picture twice (frame area and index record): the copies\n"
        "are compared, and a frame one of whose copies is damaged is listed on stdout\n"
        "with the damaged copy and whether the frame still reads whole from the other;\n"
        "the file is damaged all the same (exit 1; rvo repair mends it). Frames whose\n"
        "bytes carry no check (raw pixel bytes, a picture with one copy) are named as\n"
        "checked only in part.\n"
        "\n"
        "Example:\n  rvo verify movie.rvo && echo intact");
    cmd->add_option("FILE", *path, "the RVO file")->required();
    AddThreadsOption(cmd, nThreads.get());
    cmd->callback([path, nThreads] { PrintVerifyReport(VerifyMovie(*path, *nThreads, true)); });
}
