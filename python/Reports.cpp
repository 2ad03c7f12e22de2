// rvo.info, rvo.verify and rvo.recover: the tool's reports (tools/rvo/
// InfoReport.h, VerifyReport.h, RecoverReport.h), built by the tool's own
// code without the GIL, as Python values.
#include "RvoPython.h"

#include "platform/LastError.h"
#include "tools/rvo/RecoverReport.h"
#include "tools/rvo/ThreadsOption.h"
#include "tools/rvo/ToolSupport.h"
#include "tools/rvo/VerifyReport.h"

namespace rvopy {

py::object Info(const std::string& path) {
    Json report;
    {
        py::gil_scoped_release nogil;
        std::unique_ptr<CRvoFile> f = OpenRvoOrFail(path);
        report = InfoReport(*f);
        f->Close(FALSE);
        FailIfUnfinished(path);
    }
    return ToPython(report);
}

PyVerifyReport Verify(const std::string& path, int nThreads) {
    nThreads = ResolveThreads(nThreads);
    VerifyReport v;
    {
        py::gil_scoped_release nogil;
        v = VerifyMovie(path, nThreads, false);
    }
    // A read the system failed says nothing about the file: it raises.
    if (IsIoFailure(v.dwError)) Fail(v.strMessage, v.dwError);
    PyVerifyReport r;
    r.path = v.strPath;
    r.ok = v.bOk;
    r.mode = v.nMode ? ModeKey(v.nMode) : "";
    r.frames = v.nFrames;
    r.checked = v.nChecked;
    if (v.nBadFrame >= 0) r.bad_frame = v.nBadFrame;
    r.damaged_copies = v.damagedCopies;
    r.problem = v.strProblem;
    r.message = v.strMessage;
    return r;
}

py::dict Recover(const std::string& path, std::optional<std::string> output, bool in_place, bool backup, bool force,
                 bool drop_damaged, std::optional<std::pair<int, int>> size) {
    if (output && in_place) throw py::value_error("output and in_place exclude each other");
    SIZE sz{0, 0};
    if (size) {
        CheckSize(size->first, size->second);
        sz = SIZE{size->first, size->second};
    }
    OutputTarget t;
    t.strOutput = output ? *output : std::string();
    t.bInPlace = in_place;
    t.bNoBackup = !backup;
    t.bForce = force;
    RecoverReport r;
    {
        py::gil_scoped_release nogil;
        r = RecoverMovie(path, t, drop_damaged, size ? &sz : nullptr, "size=(width, height)");
    }
    py::list damaged, repaired;
    for (const ReportedFrame& f : r.damaged) damaged.append(f.nFrame);
    for (const ReportedFrame& f : r.mended) repaired.append(f.nFrame);
    py::dict d;
    d["path"] = r.strOutput.empty() ? py::object(py::none()) : py::object(py::str(r.strOutput));
    d["mode"] = ModeKey(r.nMode);
    d["frames"] = r.nFrames;
    d["intact"] = r.nIntact;
    d["damaged"] = damaged;
    d["repaired"] = repaired;
    d["width"] = r.nWidth;
    d["height"] = r.nHeight;
    d["dropped_bytes"] = (unsigned long long)r.nDroppedBytes;
    return d;
}

}   // namespace rvopy
