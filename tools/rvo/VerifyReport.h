// What `rvo verify` and Python's rvo.verify report of a file: whether every
// frame decodes, the first that does not, the frames one of whose picture
// copies is damaged, and the one line that sums it up. Built once here; the
// tool prints it (PrintVerifyReport), Python returns it as an rvo.VerifyReport.
#pragma once

#include <string>
#include <vector>

#include "platform/Types.h"

struct VerifyReport {
    std::string strPath;
    bool bOk = false;                         // every frame decodes and every picture copy is whole
    LONG nMode = 0;                           // 0 when the file could not be opened as a movie
    long long nFrames = 0;
    long long nChecked = 0;                   // records or pictures decoded
    long long nBadFrame = -1;                 // the first frame that does not decode; -1 when all do
    std::vector<std::string> damagedCopies;   // "frame 3: ...", as VerifyResult has them
    std::string strPartlyChecked;             // as VerifyResult has it
    std::string strProblem;                   // why the file is not whole, in words; empty when it is
    std::string strMessage;                   // one line, "<path>: ...", as the tool ends with it
    DWORD dwError = 0;                        // the code behind a failure: damage, or a read the system failed
};

// Checks every frame of the file at path on nThreads workers (with a progress
// bar on a terminal when bProgress). A file that is not whole (no RVO file,
// damaged, unfinished: IsDamage) is a report, as is a read the system failed
// at some frame (dwError: IsIoFailure); a ToolFailure when the file cannot be
// checked at all (missing, in use elsewhere, unreadable).
VerifyReport VerifyMovie(const std::string& path, int nThreads, bool bProgress);

// The tool's rendering: the damaged copies and the frames checked only in
// part, then the summary on stdout, or a ToolFailure with it when not whole.
void PrintVerifyReport(const VerifyReport& r);
