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
#include "tools/rvo/Progress.h"
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

VerifyResult VerifyFrames(CRvoFile& file, CProgressBar* pBar) {
    VerifyResult result;
    const LONG cx = file.m_nWidth, cy = file.m_nHeight;
    SIZE size{cx, cy};
    file.SetFrameSize(&size);
    file.m_nOriginX = 0;
    file.m_nOriginY = 0;
    file.SetFirstFrame(0);
    result.nFrames = file.GetFrameCount();
    if (result.nFrames <= 0) return result;
    if (cx <= 0 || cy <= 0 || !rvo::FrameSizeAllowed(cx, cy)) {
        result.nBadFrame = 0;
        result.strProblem = "the frame size " + std::to_string(cx) + "x" + std::to_string(cy) + " is not allowed";
        return result;
    }
    std::vector<DWORD> pixels((size_t)cx * (size_t)cy);
    // "what: the module's reason", or either alone.
    auto Bad = [&](long long frame, const std::string& what) {
        DWORD dwError = GetLastError();
        std::string why = dwError ? DescribeLastError(dwError) : std::string();
        result.nBadFrame = frame;
        result.strProblem = what.empty() ? (why.empty() ? "unknown error" : why) : why.empty() ? what : what + ": " + why;
    };

    if (rvo::IsRecordMode(file.m_nMode)) {
        if (pBar) pBar->SetTotal(result.nFrames);
        for (long long k = 0; k < result.nFrames; k++) {
            SetLastError(ERROR_SUCCESS);
            if (!file.ReadFrame((unsigned)k, pixels.data(), cx, cy, TRUE, cx)) {
                Bad(k, "");
                return result;
            }
            result.nChecked++;
            if (pBar) pBar->Update(k + 1);
        }
        return result;
    }

    // Index modes: each entry's picture once, then every frame must map to an
    // entry or to a blank frame. A blob is stored twice, in the frame area
    // (decoded here, as every read does) and in its index record; both copies
    // must agree byte for byte.
    const int nEntries = file.GetEntryCount();
    if (pBar) pBar->SetTotal(nEntries);
    for (int i = 0; i < nEntries; i++) {
        const RvoIndexEntry* e = file.GetEntry(i);
        if (e->m_nIndexBlobAt != 0 && e->m_dwBlobOffset != 0 && file.m_pFile) {
            bool bRead = false;
            SetLastError(ERROR_SUCCESS);
            if (!FrameAreaCopyFound(*file.m_pFile, e->m_dwBlobOffset) ||
                !SameBytes(*file.m_pFile, e->m_nIndexBlobAt, e->m_dwBlobOffset, e->m_dwIndexBlobBytes, &bRead)) {
                Bad(e->m_nStartFrame, "the frame-area copy of the picture blob of entry " + std::to_string(i) +
                                          (bRead ? " differs from its index copy" : " cannot be read"));
                return result;
            }
        }
        SetLastError(ERROR_SUCCESS);
        if (!file.RebuildFrame(i, pixels.data(), cx, cy, cx)) {
            const bool bBlob = e->m_hBlob || e->m_nIndexBlobAt || e->m_dwBlobOffset;
            Bad(e->m_nStartFrame, bBlob ? "picture blob of entry " + std::to_string(i)
                                  : e->m_nKind == rvo::kKindStillImage
                                      ? "still image '" + ToUtf8(e->m_strName.Str()) + "' of entry " + std::to_string(i)
                                      : "entry " + std::to_string(i) + " has no picture");
            return result;
        }
        result.nChecked++;
        if (pBar) pBar->Update(i + 1);
    }
    for (long long k = 0; k < result.nFrames; k++) {
        int entry = file.LocateFrame((unsigned)k);
        if (entry < -1 || entry >= nEntries) {
            SetLastError(ERROR_SUCCESS);
            Bad(k, "no index entry shows it");
            return result;
        }
    }
    return result;
}

void RegisterVerify(CLI::App& app) {
    auto path = std::make_shared<std::string>();
    CLI::App* cmd = app.add_subcommand("verify", "Check that every frame of an RVO file decodes.");
    cmd->footer(
                "Check that every frame of an RVO file decodes, with the module's own checks:\n"
                "every record of a raw or packed file is read and checked, every picture blob\n"
                "of a JPEG file decoded, every still image of an image list read. Exit 1 names\n"
                "the first frame that does not.\n"
                "\n"
                "Example:\n  rvo verify movie.rvo && echo intact");
    cmd->add_option("FILE", *path, "the RVO file")->required();
    cmd->callback([path] {
        std::unique_ptr<CRvoFile> file = OpenRvoOrFail(*path);
        FailIfUnfinished(*path);
        CheckedFrameCount(*file, *path);
        const LONG nMode = file->m_nMode;
        VerifyResult r;
        {
            CProgressBar bar("verify " + *path, 0);
            r = VerifyFrames(*file, &bar);
        }
        file->Close(FALSE);
        if (r.nBadFrame >= 0)
            FailFile(*path, "frame " + std::to_string(r.nBadFrame) + " does not decode (" + r.strProblem + ")");
        std::printf("%s: %lld frames, all decode (%s, %lld %s checked)\n", path->c_str(), r.nFrames,
                    ModeName(nMode), r.nChecked,
                    rvo::IsRecordMode(nMode) ? "records" : "pictures");
    });
}
