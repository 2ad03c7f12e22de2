// The movie behind the reading element: opened, sized and read frame by frame
// through the tool's host session.
#include "gst/MovieStream.h"

#include <atomic>

#include "tools/rvo/HostSession.h"
#include "tools/rvo/ToolSupport.h"

namespace {

std::atomic<unsigned> g_nStreams{0};

}   // namespace

CMovieStream::CMovieStream(std::shared_ptr<CByteSource> pSource, const std::string& strFolder,
                           const std::string& strName)
    : m_strName(strName) {
    m_strPath = strFolder + "/.rvo-stream-" + std::to_string(g_nStreams++) + ".rvo";
    if (!RegisterByteSource(m_strPath, std::move(pSource))) throw ToolFailure(strName + ": cannot be opened");
    m_bRegistered = true;
    try {
        Open();
    } catch (const ToolFailure& e) {
        UnregisterByteSource(m_strPath);
        throw ToolFailure(Message(e.what()));
    }
}

CMovieStream::CMovieStream(const std::string& strFile) : m_strPath(strFile), m_strName(strFile) { Open(); }

void CMovieStream::Open() {
    const MovieShape shape = ReadMovieShapeOrFail(m_strPath);
    m_nFrames = shape.nFrames;
    m_nWidth = shape.nWidth;
    m_nHeight = shape.nHeight;
    if (m_nFrames == 0) FailIfUnfinished(m_strPath);
    if (m_nFrames == 0 || m_nWidth <= 0 || m_nHeight <= 0) FailFile(m_strPath, "holds no frames");
    m_pReader = std::make_unique<CHostReader>(m_strPath);
}

CMovieStream::~CMovieStream() {
    m_pReader.reset();
    if (m_bRegistered) UnregisterByteSource(m_strPath);
}

std::string CMovieStream::ReadFrame(long long k, DWORD* pPixels) {
    // The buffer may sit where an earlier frame was placed; decode it anyway.
    m_pReader->ForgetLastDecoded();
    const DWORD dwError = m_pReader->ReadFrame(k, pPixels, m_nWidth, m_nHeight, false);
    if (!dwError) return "";
    return m_strName + ": frame " + std::to_string(k) + " does not decode (" + DescribeLastError(dwError) + ")";
}

std::string CMovieStream::Message(const std::string& strFailure) const {
    if (strFailure.compare(0, m_strPath.size(), m_strPath) == 0) return m_strName + strFailure.substr(m_strPath.size());
    return strFailure;
}
