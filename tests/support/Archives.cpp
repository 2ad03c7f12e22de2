// Storing and loading archives over scratch files.
#include "tests/support/Archives.h"

#include "platform/Exceptions.h"
#include "platform/File.h"
#include "tests/support/TestFiles.h"

namespace rvotest {

std::vector<uint8_t> ArchiveStored(const std::function<void(CArchive&)>& fn) {
    const std::string path = ScratchPath("store.bin");
    CFile f;
    if (!f.Open(Wide(path).c_str(), CFile::modeCreate | CFile::modeReadWrite)) return {};
    {
        CArchive ar(&f, CArchive::store);
        fn(ar);
        ar.Close();
    }
    f.Close();
    return ReadAll(path);
}

int ArchiveLoaded(const std::vector<uint8_t>& bytes, const std::function<void(CArchive&)>& fn) {
    const std::string path = ScratchPath("load.bin");
    WriteAll(path, bytes);
    CFile f;
    if (!f.Open(Wide(path).c_str(), CFile::modeRead)) return -4;
    CArchive ar(&f, CArchive::load);
    try {
        fn(ar);
    } catch (const CArchiveException& e) {
        return e.m_cause;
    } catch (const COleException& e) {
        return e.m_sc == (DWORD)E_INVALIDARG ? -1 : -3;
    } catch (const CMemoryException&) {
        return -2;
    }
    return 0;
}

}   // namespace rvotest
