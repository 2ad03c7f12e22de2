// Writing and opening movies through CRvoFile.
#include "tests/support/Movies.h"

#include "platform/CString.h"
#include "platform/File.h"

namespace rvotest {

bool WriteMovie(const std::string& path, LONG nMode, int w, int h, const std::vector<std::vector<uint32_t>>& frames) {
    CRvoFile f;
    f.m_header.m_nMode = nMode;
    if (!f.Create(FromUtf8(path).c_str())) return false;
    const SIZE size{w, h};
    f.SetFrameSize(&size);
    bool bOk = true;
    for (const std::vector<uint32_t>& px : frames) bOk = f.WriteFrame(px.data(), w) && bOk;
    return f.Close(TRUE) && bOk;
}

bool OpenMovie(CRvoFile& r, const std::string& path) {
    if (!r.Open(FromUtf8(path).c_str(), CFile::modeRead | CFile::shareDenyWrite)) return false;
    const SIZE size{r.m_header.m_nWidth, r.m_header.m_nHeight};
    r.SetFrameSize(&size);
    r.m_nOriginX = 0;
    r.m_nOriginY = 0;
    r.SetFirstFrame(0);
    return true;
}

}  // namespace rvotest
