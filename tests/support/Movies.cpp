// Writing and opening movies through CRvoFile.
#include "tests/support/Movies.h"

#include <fstream>
#include <iterator>

#include "platform/CString.h"
#include "platform/File.h"
#include "platform/RawFile.h"

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

std::vector<uint8_t> SectorSizedMovie(const std::string& path, LONG nMode, DWORD nSector, int w, int h,
                                      const std::vector<std::vector<uint32_t>>& frames) {
    SetSectorSizeOverride(nSector);
    bool bOk = WriteMovie(path, nMode, w, h, frames);
    CRvoFile r;
    bOk = bOk && OpenMovie(r, path) && SectorSizeOf(r.m_store.m_hRawFile) == nSector;
    std::vector<uint32_t> px((size_t)w * h);
    for (size_t i = 0; bOk && i < frames.size(); i++) {
        const int entry = r.LocateFrame((unsigned)i);
        bOk = r.ReadFrame((unsigned)entry, px.data(), w, h, TRUE, w) && px == frames[i];
    }
    r.Close(FALSE);
    SetSectorSizeOverride(0);
    std::vector<uint8_t> bytes;
    if (!bOk) return bytes;
    std::ifstream in(path, std::ios::binary);
    bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return bytes;
}

std::vector<uint64_t> FrameBounds(const std::string& path, uint64_t nRawRecord) {
    std::vector<uint64_t> v;
    CRvoFile f;
    if (!f.Open(FromUtf8(path).c_str(), CFile::modeRead | CFile::shareDenyWrite)) return v;
    const int n = f.GetFrameCount();
    if (f.m_header.m_nMode == rvo::JpegBlobs) {
        for (int i = 0; i < n; i++) v.push_back(f.GetEntry(i)->m_dwBlobOffset);
        v.push_back(f.m_header.m_dwIndexOffset);
    } else {
        uint64_t at = 512;
        for (int i = 0; i <= n; i++) {
            v.push_back(at);
            if (i < n) at += f.m_header.m_nMode == rvo::PackedFrames ? f.m_store.m_pFrameSizeTable[i] : nRawRecord;
        }
    }
    f.Close(FALSE);
    return v;
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

}   // namespace rvotest
