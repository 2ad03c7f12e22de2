// Building and printing the verify report.
#include "tools/rvo/VerifyReport.h"

#include <algorithm>
#include <cstdio>
#include <memory>

#include "container/RvoFormat.h"
#include "platform/LastError.h"
#include "tools/rvo/Progress.h"
#include "tools/rvo/ToolSupport.h"
#include "tools/rvo/VerifyFile.h"

VerifyReport VerifyMovie(const std::string& path, int nThreads, bool bProgress) {
    VerifyReport r;
    r.strPath = path;
    try {
        std::unique_ptr<CRvoFile> file = OpenRvoOrFail(path);
        FailIfUnfinished(path);
        CheckedFrameCount(*file, path);
        r.nMode = file->Header().m_nMode;
        VerifyResult v;
        {
            std::unique_ptr<CProgressBar> bar;
            if (bProgress) bar = std::make_unique<CProgressBar>("verify " + path, 0);
            v = VerifyFrames(*file, path, nThreads, bar.get());
        }
        file->Close(FALSE);
        r.nFrames = v.nFrames;
        r.nChecked = v.nChecked;
        r.nBadFrame = v.nBadFrame;
        r.damagedCopies = v.damagedCopies;
        r.strPartlyChecked = v.strPartlyChecked;
        const std::string strDamage = DamageSummary(v);
        if (!strDamage.empty()) {
            r.dwError = v.nBadFrame >= 0 ? v.dwBadError : (DWORD)ERROR_FILE_CORRUPT;
            r.strProblem = v.nBadFrame >= 0 && !IsIoFailure(v.dwBadError) ? v.strProblem : strDamage;
            r.strMessage = path + ": " + strDamage;
            return r;
        }
        r.bOk = true;
        r.strMessage = path + ": " + std::to_string(v.nFrames) + " frames, all decode (" + ModeName(r.nMode) + ", " +
                       std::to_string(v.nChecked) + (rvo::IsRecordMode(r.nMode) ? " records" : " pictures") +
                       " checked)";
    } catch (const ToolFailure& e) {
        // A file that is not whole is the report's business; a missing or busy file is a failure.
        if (!IsDamage(e.dwError)) throw;
        r.dwError = e.dwError;
        r.strMessage = e.what();
        r.strProblem = r.strMessage.substr(std::min(r.strMessage.size(), path.size() + 2));
    }
    return r;
}

void PrintVerifyReport(const VerifyReport& r) {
    const char* path = r.strPath.c_str();
    for (const std::string& line : r.damagedCopies) std::printf("%s: %s\n", path, line.c_str());
    const size_t nWhy = r.strPartlyChecked.find(" (");
    if (!r.strPartlyChecked.empty())
        std::printf("%s: %s checked only in part %s\n", path, r.strPartlyChecked.substr(0, nWhy).c_str(),
                    r.strPartlyChecked.substr(nWhy + 1).c_str());
    std::fflush(stdout);
    if (!r.bOk) throw ToolFailure(r.strMessage, r.dwError);
    std::printf("%s\n", r.strMessage.c_str());
}
