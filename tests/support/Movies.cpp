// Writing and opening movies through CRvoFile.
#include "tests/support/Movies.h"

#include <fstream>
#include <iterator>

#include "platform/CString.h"
#include "platform/File.h"
#include "platform/RawFile.h"

namespace rvotest {

namespace {

// The sector size the reader's unbuffered handle on path is given.
DWORD ReaderSectorSize(const std::string& path) {
    HANDLE h = CreateFileW(FromUtf8(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_FLAG_NO_BUFFERING | FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return 0;
    const DWORD n = SectorSizeOf(h);
    CloseHandle(h);
    return n;
}

}   // namespace

bool WriteMovie(const std::string& path, LONG nMode, int w, int h, const std::vector<std::vector<uint32_t>>& frames) {
    CRvoFile f;
    const SIZE size{w, h};
    if (!f.Create(FromUtf8(path).c_str(), nMode, &size)) return false;
    bool bOk = true;
    for (const std::vector<uint32_t>& px : frames) bOk = f.WriteFrame(px.data(), w) && bOk;
    return f.Close(TRUE) && bOk;
}

std::vector<uint8_t> SectorSizedMovie(const std::string& path, LONG nMode, DWORD nSector, int w, int h,
                                      const std::vector<std::vector<uint32_t>>& frames) {
    SetSectorSizeOverride(nSector);
    bool bOk = WriteMovie(path, nMode, w, h, frames);
    CRvoFile r;
    bOk = bOk && OpenMovie(r, path) && ReaderSectorSize(path) == nSector;
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
    if (f.Header().m_nMode == rvo::JpegBlobs) {
        for (int i = 0; i < n; i++) v.push_back(f.GetEntry(i)->m_dwBlobOffset);
        v.push_back(f.Header().m_dwIndexOffset);
    } else {
        uint64_t at = 512;
        for (int i = 0; i <= n; i++) {
            v.push_back(at);
            if (i < n) at += f.Header().m_nMode == rvo::PackedFrames ? f.RecordBytesAt((unsigned)i) : nRawRecord;
        }
    }
    f.Close(FALSE);
    return v;
}

bool OpenMovie(CRvoFile& r, const std::string& path) {
    return r.OpenForReading(FromUtf8(path).c_str()) != FALSE;
}

}   // namespace rvotest
