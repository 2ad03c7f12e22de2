// Host command sequences for writing, reading and preloading movies.
#include "tools/rvo/HostSession.h"

#include <cstdio>
#include <filesystem>
#include <vector>

#include "container/RvoFormat.h"
#include "platform/LastError.h"
#include "plugin/Dispatch.h"
#include "tools/rvo/Progress.h"
#include "tools/rvo/ToolSupport.h"
#include "tools/rvo/System.h"

namespace {

constexpr double kFieldDuration = 1.0;

std::unique_ptr<HostMediaInfo> NewRecord(const std::string& path) {
    auto p = std::make_unique<HostMediaInfo>();
    *p = HostMediaInfo{};
    SetHostPath(*p, path);
    p->dFieldDuration = kFieldDuration;
    return p;
}

HostFrameBuffer BufferOver(const DWORD* pPixels, int nWidth, int nHeight, int nStride) {
    HostFrameBuffer buf{};
    buf.nWidth = nWidth;
    buf.nHeight = nHeight;
    buf.nStride = nStride;
    buf.pPixels = const_cast<DWORD*>(pPixels);   // command 8 only reads the source buffer
    return buf;
}

// The preload callback takes no context pointer, so the bar it drives is
// reached through this slot while command 9 runs (the tool has one thread).
struct PreloadProgress {
    CProgressBar* pBar = nullptr;
    long long nTotal = 0;
};
PreloadProgress g_progress;

int OnPreloadProgress(int k) {
    // First call: minus the number of frames; then each finished frame's index.
    if (k < 0) {
        g_progress.nTotal = -(long long)k;
        if (g_progress.pBar) g_progress.pBar->SetTotal(g_progress.nTotal);
    } else {
        if (g_progress.pBar) g_progress.pBar->Update(k + 1);
    }
    return 1;
}

}   // namespace

LONG CompressionForModeName(const std::string& strMode) {
    if (strMode == "jpeg") return 1;
    if (strMode == "packed") return 2;
    if (strMode == "raw") return 0;
    return -1;
}

CHostWriter::CHostWriter(const std::string& path, LONG nCompression, int nWidth, int nHeight,
                         long long nMaxFrames)
    : m_pIn(NewRecord(path)), m_nWidth(nWidth), m_nHeight(nHeight) {
    m_pIn->rcRegion = RECT{0, 0, nWidth, nHeight};
    m_pIn->nCompression = nCompression;
    // The last frame lies at two fields per frame after the first.
    m_pIn->dTotalDuration = 2.0 * kFieldDuration * (double)(nMaxFrames > 0 ? nMaxFrames - 1 : 0);
    SetLastError(ERROR_SUCCESS);
    if (RvoDispatch(CMD_CREATE_WRITE, m_pIn.get(), m_pIn.get(), &m_pHandle) != kHostDone) {
        const DWORD dwError = GetLastError();
        RvoDispatch(CMD_CLOSE, nullptr, nullptr, &m_pHandle);
        if (dwError == ERROR_SHARING_VIOLATION)
            FailFile(path,
                     "cannot be created: it is open elsewhere (being read or written by another process or "
                     "handle); the file is left as it was",
                     dwError);
        std::error_code ec;
        const std::filesystem::path folder = FsPath(path).parent_path();
        if (!folder.empty() && !std::filesystem::is_directory(folder, ec))
            FailFile(path, "cannot be created: no such folder " + folder.string());
        if (std::filesystem::is_directory(FsPath(path), ec)) FailFile(path, "cannot be created: it is a folder");
        FailFile(path, "cannot be created (" + DescribeLastError(dwError) + ")", dwError);
    }
}

CHostWriter::~CHostWriter() { Close(); }

int CHostWriter::Write(const DWORD* pPixels, int nStride) {
    HostFrameBuffer src = BufferOver(pPixels, m_nWidth, m_nHeight, nStride);
    m_pIn->pSrc = &src;
    int rc = RvoDispatch(CMD_WRITE_FRAME, m_pIn.get(), m_pIn.get(), &m_pHandle);
    m_pIn->pSrc = nullptr;
    return rc;
}

int CHostWriter::Append(RvoEncodedFrame& frame) { return RvoAppendFrame(m_pHandle, frame); }

DWORD CHostWriter::Close() {
    if (!m_pHandle) return 0;
    SetLastError(ERROR_SUCCESS);
    if (RvoDispatch(CMD_CLOSE, nullptr, nullptr, &m_pHandle) == kHostDone) return 0;
    return GetLastError() ? GetLastError() : (DWORD)ERROR_WRITE_FAULT;
}

void CHostWriter::Abandon() {
    if (m_pHandle) m_pHandle->m_bWriteMode = FALSE;
    Close();
}

CHostReader::CHostReader(const std::string& path) : m_path(path), m_pIn(NewRecord(path)) {
    SetLastError(ERROR_SUCCESS);
    if (RvoDispatch(CMD_OPEN_READ, m_pIn.get(), m_pIn.get(), &m_pHandle) != kHostDone) {
        const DWORD dwError = GetLastError();
        RvoDispatch(CMD_CLOSE, nullptr, nullptr, &m_pHandle);
        if (dwError == ERROR_SHARING_VIOLATION)
            FailFile(path, "cannot be opened by the module: " + DescribeLastError(dwError), dwError);
        if (IsIoFailure(dwError)) FailRead(path, dwError);
        FailFile(path, "cannot be opened by the module (" + DescribeLastError(dwError) + ")", DamageCode(dwError));
    }
}

CHostReader::~CHostReader() { RvoDispatch(CMD_CLOSE, nullptr, nullptr, &m_pHandle); }

DWORD CHostReader::ReadFrame(long long k, DWORD* pPixels, int nWidth, int nHeight, bool bAllowCache) {
    HostFrameBuffer dst = BufferOver(pPixels, nWidth, nHeight, nWidth);
    m_pIn->pDst = &dst;
    m_pIn->rcRegion = RECT{0, 0, nWidth, nHeight};
    m_pIn->nDeliveryMode = bAllowCache ? 0 : 2;
    DWORD dwError = 0;
    // Command 7 fails, with the reader's error, for a frame it could not read
    // or decode. One it shows may still leave a last error: steps that recover
    // (a still image found on the second try) leave one, and a picture given as
    // far as its damaged copies decode is shown; the reader's own result for
    // the frame settles which.
    for (int parity = 0; parity < 2 && !dwError; parity++) {
        m_pIn->dTime = (2.0 * (double)k + parity) * kFieldDuration;
        SetLastError(ERROR_SUCCESS);
        if (RvoDispatch(CMD_READ_FRAME, m_pIn.get(), m_pIn.get(), &m_pHandle) != kHostDone)
            dwError = GetLastError() ? GetLastError() : (DWORD)ERROR_INVALID_FUNCTION;
        else if (GetLastError() != ERROR_SUCCESS)
            dwError = ReadFrameDirectly(k, nWidth, nHeight);
    }
    m_pIn->pDst = nullptr;
    return dwError;
}

void CHostReader::ForgetLastDecoded() {
    if (!m_pHandle) return;
    m_pHandle->m_nLastDecoded = -1;
    m_pHandle->m_pLastDecodedInto = nullptr;
}

DWORD CHostReader::ReadFrameDirectly(long long k, int nWidth, int nHeight) {
    CRvoFile* file = m_pHandle ? m_pHandle->m_pRvoFile : nullptr;
    if (!file) return ERROR_INVALID_FUNCTION;
    const LONG nLast = m_pHandle->m_nLastFrame;
    const unsigned frame = (unsigned)(k < nLast ? k : nLast);
    std::vector<DWORD> scratch((size_t)nWidth * (size_t)nHeight);
    SetLastError(ERROR_SUCCESS);
    // A picture given as far as its damaged copies decode is read, but damaged.
    if (file->ReadFrame((unsigned)file->LocateFrame(frame), scratch.data(), nWidth, nHeight, TRUE, nWidth))
        return GetLastError() == ERROR_FILE_CORRUPT ? (DWORD)ERROR_FILE_CORRUPT : 0;
    return GetLastError() != ERROR_SUCCESS ? GetLastError() : ERROR_INVALID_FUNCTION;
}

PreloadReport CHostReader::Preload(const std::string& strLabel) {
    CProgressBar bar(strLabel, 0);
    g_progress = PreloadProgress{&bar, 0};
    m_pIn->pfnProgress = OnPreloadProgress;
    m_pIn->dTime = 0;
    SetLastError(ERROR_SUCCESS);
    int rc = RvoDispatch(CMD_PRELOAD, m_pIn.get(), m_pIn.get(), &m_pHandle);
    DWORD dwError = GetLastError();
    bar.Finish();
    const long long nAnnounced = g_progress.nTotal;
    g_progress = PreloadProgress{};
    if (rc != kHostDone) FailFile(m_path, "cannot be opened for preloading");

    PreloadReport report;
    const CRvoFile* file = m_pHandle->m_pRvoFile;
    const long long nBlocks = file->Cache().GetSize();
    // Raw storage modes keep one block per frame, the others one record per field.
    const bool bRaw = rvo::IsRecordMode(file->Header().m_nMode);
    report.nFramesLoaded = bRaw ? nBlocks : nBlocks / 2;
    report.nFramesTotal = nAnnounced;
    for (long long i = 0; i < nBlocks; i++) report.nBytesLocked += file->Cache().GetBytesAt((int)i);
    report.dwLastError = report.nFramesLoaded < report.nFramesTotal ? dwError : 0;
    return report;
}
