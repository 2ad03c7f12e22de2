// rvo verify: every frame of a file decodes, or the first one that does not.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "container/BlobFile.h"
#include "container/Limits.h"
#include "platform/ByteOrder.h"
#include "platform/LastError.h"
#include "tools/rvo/Commands.h"
#include "tools/rvo/OrderedWork.h"
#include "tools/rvo/Progress.h"
#include "tools/rvo/ThreadsOption.h"
#include "tools/rvo/ToolSupport.h"
#include "tools/rvo/VerifyFile.h"

long long CheckedFrameCount(CRvoFile& file, const std::string& path) {
    long long n = file.GetFrameCount();
    if (n < 0 || n > (long long)rvo::kMaxEntries)
        FailFile(path, "damaged RVO file (it claims " + std::to_string(n) + " frames)");
    return n;
}

namespace {

// Whether a blob's file form begins at nAt; ERROR_BAD_FORMAT when not.
bool FrameAreaCopyFound(CFile& f, ULONGLONG nAt) {
    BYTE marker[4];
    if (f.Seek((LONGLONG)nAt, CFile::begin) == nAt && f.Read(marker, 4) == 4 && LoadLe32(marker) == rvo::kBlobFileMarker)
        return true;
    SetLastError(ERROR_BAD_FORMAT);
    return false;
}

// Whether the n bytes at nAtA and nAtB of the file are the same, read through
// two bounded buffers; false with ERROR_HANDLE_EOF when either copy is short.
bool SameBytes(CFile& f, ULONGLONG nAtA, ULONGLONG nAtB, ULONGLONG n, bool* pbRead) {
    std::vector<BYTE> a(1u << 16), b(1u << 16);
    *pbRead = true;
    for (ULONGLONG nDone = 0; nDone < n;) {
        const UINT k = (UINT)std::min<ULONGLONG>(n - nDone, a.size());
        if (f.Seek((LONGLONG)(nAtA + nDone), CFile::begin) != nAtA + nDone || f.Read(a.data(), k) != k ||
            f.Seek((LONGLONG)(nAtB + nDone), CFile::begin) != nAtB + nDone || f.Read(b.data(), k) != k) {
            *pbRead = false;
            SetLastError(ERROR_HANDLE_EOF);
            return false;
        }
        if (std::memcmp(a.data(), b.data(), k) != 0) return false;
        nDone += k;
    }
    return true;
}

}  // namespace

namespace {

// A file set up for reading frame by frame at its own size.
void PrepareForChecks(CRvoFile& file) {
    SIZE size{file.m_header.m_nWidth, file.m_header.m_nHeight};
    file.SetFrameSize(&size);
    file.m_nOriginX = 0;
    file.m_nOriginY = 0;
    file.SetFirstFrame(0);
}

// "what: the module's reason", or either alone, the reason being the calling
// thread's last error.
std::string Problem(const std::string& what) {
    const DWORD dwError = GetLastError();
    const std::string why = dwError ? DescribeLastError(dwError) : std::string();
    return what.empty() ? (why.empty() ? "unknown error" : why) : why.empty() ? what : what + ": " + why;
}

// The problem with entry i of an index-mode file, "" when its picture
// rebuilds. A blob is stored twice, in the frame area (decoded here, as every
// read does) and in its index record; both copies must agree byte for byte.
std::string EntryProblem(CRvoFile& file, int i, std::vector<DWORD>& pixels) {
    const LONG cx = file.m_header.m_nWidth, cy = file.m_header.m_nHeight;
    const RvoIndexEntry* e = file.GetEntry(i);
    if (e->m_nIndexBlobAt != 0 && e->m_dwBlobOffset != 0 && file.m_pFile) {
        bool bRead = false;
        SetLastError(ERROR_SUCCESS);
        if (!FrameAreaCopyFound(*file.m_pFile, e->m_dwBlobOffset) ||
            !SameBytes(*file.m_pFile, e->m_nIndexBlobAt, e->m_dwBlobOffset, e->m_dwIndexBlobBytes, &bRead))
            return Problem("the frame-area copy of the picture blob of entry " + std::to_string(i) +
                           (bRead ? " differs from its index copy" : " cannot be read"));
    }
    SetLastError(ERROR_SUCCESS);
    if (file.RebuildFrame(i, pixels.data(), cx, cy, cx)) return "";
    const bool bBlob = e->m_hBlob || e->m_nIndexBlobAt || e->m_dwBlobOffset;
    return Problem(bBlob ? "picture blob of entry " + std::to_string(i)
                   : e->m_nKind == rvo::kKindStillImage
                       ? "still image '" + ToUtf8(e->m_strName.Str()) + "' of entry " + std::to_string(i)
                       : "entry " + std::to_string(i) + " has no picture");
}

// One record or picture checked by a worker.
struct CheckItem {
    long long k = 0;
    std::string strProblem;
    bool bBad = false;
};

}  // namespace

VerifyResult VerifyFrames(CRvoFile& file, const std::string& path, int nThreads, CProgressBar* pBar) {
    VerifyResult result;
    const LONG cx = file.m_header.m_nWidth, cy = file.m_header.m_nHeight;
    PrepareForChecks(file);
    result.nFrames = file.GetFrameCount();
    if (result.nFrames <= 0) return result;
    if (cx <= 0 || cy <= 0 || !rvo::FrameSizeAllowed(cx, cy)) {
        result.nBadFrame = 0;
        result.strProblem = "the frame size " + std::to_string(cx) + "x" + std::to_string(cy) + " is not allowed";
        return result;
    }
    const bool bRecords = rvo::IsRecordMode(file.m_header.m_nMode);
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
                if (item.bBad) item.strProblem = Problem("");
            } else {
                item.strProblem = EntryProblem(f, (int)item.k, pixels);
                item.bBad = !item.strProblem.empty();
            }
        },
        [&](long long k, CheckItem& item) {
            if (item.bBad) {
                result.nBadFrame = bRecords ? k : file.GetEntry((int)k)->m_nStartFrame;
                result.strProblem = item.strProblem;
                return false;
            }
            result.nChecked++;
            if (pBar) pBar->Update(k + 1);
            return true;
        });
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
                "Example:\n  rvo verify movie.rvo && echo intact");
    cmd->add_option("FILE", *path, "the RVO file")->required();
    AddThreadsOption(cmd, nThreads.get());
    cmd->callback([path, nThreads] {
        std::unique_ptr<CRvoFile> file = OpenRvoOrFail(*path);
        FailIfUnfinished(*path);
        CheckedFrameCount(*file, *path);
        const LONG nMode = file->m_header.m_nMode;
        VerifyResult r;
        {
            CProgressBar bar("verify " + *path, 0);
            r = VerifyFrames(*file, *path, *nThreads, &bar);
        }
        file->Close(FALSE);
        if (r.nBadFrame >= 0)
            FailFile(*path, "frame " + std::to_string(r.nBadFrame) + " does not decode (" + r.strProblem + ")");
        std::printf("%s: %lld frames, all decode (%s, %lld %s checked)\n", path->c_str(), r.nFrames,
                    ModeName(nMode), r.nChecked,
                    rvo::IsRecordMode(nMode) ? "records" : "pictures");
    });
}
