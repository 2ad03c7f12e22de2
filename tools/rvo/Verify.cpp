// rvo verify: every frame of a file decodes, or the first one that does not.
#include <cstdio>
#include <vector>

#include <cstring>

#include "codec/JpegBlob.h"
#include "container/Limits.h"
#include "platform/GlobalMemory.h"
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

// The bytes a blob holds: header and both streams (the tail means nothing).
bool SameBlob(HGLOBAL hA, HGLOBAL hB) {
    const size_t nA = GlobalSize(hA), nB = GlobalSize(hB);
    if (nA < JPEG_BLOB_HEADER_BYTES || nB < JPEG_BLOB_HEADER_BYTES) return false;
    const BYTE* a = static_cast<const BYTE*>(GlobalLock(hA));
    const BYTE* b = static_cast<const BYTE*>(GlobalLock(hB));
    bool same = false;
    if (a && b) {
        const ULONGLONG n = JPEG_BLOB_HEADER_BYTES + (ULONGLONG)LoadLe32(a + JPEG_BLOB_OFS_COLOUR_BYTES) +
                            LoadLe32(a + JPEG_BLOB_OFS_ALPHA_BYTES);
        same = n <= nA && n <= nB && std::memcmp(a, b, (size_t)n) == 0;
    }
    if (a) GlobalUnlock(hA);
    if (b) GlobalUnlock(hB);
    return same;
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

    if (file.m_nMode == rvo::RawFrames || file.m_nMode == rvo::PackedFrames) {
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
    // entry or to a blank frame. A blob is stored twice, in its index record
    // (loaded by Open) and in the frame area (read again after preloading took
    // the first); both must decode and agree.
    const int nEntries = file.GetEntryCount();
    if (pBar) pBar->SetTotal(nEntries);
    for (int i = 0; i < nEntries; i++) {
        const RvoIndexEntry* e = file.GetEntry(i);
        SetLastError(ERROR_SUCCESS);
        if (!file.RebuildFrame(i, pixels.data(), cx, cy, cx)) {
            Bad(e->m_nStartFrame, e->m_hBlob ? "picture blob of entry " + std::to_string(i)
                                  : e->m_nKind == rvo::kKindStillImage
                                      ? "still image '" + ToUtf8(e->m_strName.Str()) + "' of entry " + std::to_string(i)
                                      : "entry " + std::to_string(i) + " has no picture");
            return result;
        }
        if (e->m_hBlob && e->m_dwBlobOffset != 0) {
            HGLOBAL hIndexCopy = file.TakeBlob(i);
            SetLastError(ERROR_SUCCESS);
            bool bRead = file.LoadEntryBlob(i) != 0;
            bool bSame = bRead && SameBlob(hIndexCopy, e->m_hBlob);
            CJpeEngine::FreeBlob(hIndexCopy);
            if (!bSame) {
                if (bRead) SetLastError(ERROR_SUCCESS);
                Bad(e->m_nStartFrame, "the frame-area copy of the picture blob of entry " + std::to_string(i) +
                                          (bRead ? " differs from its index copy" : " cannot be read"));
                return result;
            }
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
                    nMode == rvo::RawFrames || nMode == rvo::PackedFrames ? "records" : "pictures");
    });
}
