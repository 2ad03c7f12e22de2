// A file image opened and queried the way the file-info command does, then the
// frame lookups a player makes on the opened object.
#include <cstring>

#include "container/RvoFile.h"
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"
#include "platform/File.h"
#include "plugin/Dispatch.h"

namespace rvofuzz {

int OpenQueryTarget(const uint8_t* p, size_t n) {
    Setup();
    const std::string path = ScratchPath("open");
    WriteScratch(path, p, n);
    const std::u16string wide = Wide(path);

    HostMediaInfo in = HostRecordFor(path), out{};
    const int nResult = RvoDispatch(CMD_GET_FILE_INFO, &in, &out, nullptr);
    Expect(nResult == kHostDone || nResult == kHostFailed, "file info: unknown result");

    // The object itself: opening never throws, and a refused file leaves nothing open.
    CRvoFile f;
    if (f.Open(wide.c_str(), CFile::modeRead | CFile::shareDenyWrite)) {
        Expect(nResult == kHostDone, "file info failed on a file that opens");
        const int nFrames = f.GetFrameCount();
        Expect(nFrames >= 0, "negative frame count");
        const int nEntries = f.GetEntryCount();
        // Lookups around every entry and past the end stay within the entries.
        for (unsigned frame = 0; frame < 64; frame++) {
            const int i = f.FindEntry(frame);
            Expect(i >= -1 && i < nEntries, "FindEntry outside the entries");
            const int k = f.LocateFrame(frame);
            if (f.Header().m_nMode != rvo::RawFrames && f.Header().m_nMode != rvo::PackedFrames)
                Expect(k >= -1 && k < nEntries, "LocateFrame outside the entries");
        }
        f.LocateFrame(0xFFFFFFFFu);
        f.FindEntry(0xFFFFFFFFu);
    } else {
        Expect(f.GetEntryCount() == 0 && !f.IsOpen(),
               "a refused file left entries or handles");
    }
    f.Close(FALSE);
    return 0;
}

}   // namespace rvofuzz
