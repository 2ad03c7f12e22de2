// What `rvo recover` and `rvo repair` do, and Python's rvo.recover: a movie
// written anew from another, and the report of what came back. Built once
// here; the tool prints it (PrintRecoverReport), Python returns it as a dict.
//
// An unfinished file (its writer stopped before closing it) is rebuilt from
// its whole frames. A finished JPEG movie one of whose two copies of a
// picture is damaged is mended from the whole copy (rvo repair's work, which
// recover does on such a file too).
#pragma once

#include <string>
#include <vector>

#include "platform/Types.h"
#include "tools/rvo/OutputFile.h"

// One frame the report names, by its number in the input.
struct ReportedFrame {
    long long nFrame = 0;
    ULONGLONG nAt = 0, nBytes = 0;   // a damaged frame of an unfinished file: the bytes the walk could not read
    std::string strWhat;             // what happened to it, in words
};

struct RecoverReport {
    std::string strInput;
    std::string strOutput;    // the file written; empty when nothing was (nothing to repair)
    std::string strBackup;    // where the original is kept (in place), else empty
    bool bRepair = false;     // a finished JPEG movie mended, not an unfinished file rebuilt
    bool bDropDamaged = false;
    LONG nMode = 0;
    LONG nWidth = -1, nHeight = -1;   // -1 when no whole frame gives the size
    long long nFrames = 0;            // frames in the file written
    long long nIntact = 0;            // frames that came back whole
    // Frames lost: replaced or dropped (rebuilt), or without a whole copy of
    // their picture to mend them from (repaired), in frame order.
    std::vector<ReportedFrame> damaged;
    std::vector<ReportedFrame> mended;   // repaired: each copy written over, from which
    ULONGLONG nDroppedBytes = 0;         // rebuilt: the bytes after the last whole frame
};

// Rebuilds an unfinished file, or mends a finished JPEG movie into
// FILE-recovered (as target says). pSize (may be null) gives the frame size of
// a raw or packed file that does not record it; strSizeHint how the caller
// gives one ("--size WxH"). A ToolFailure when nothing could be written.
RecoverReport RecoverMovie(const std::string& input, const OutputTarget& target, bool bDropDamaged,
                           const SIZE* pSize, const std::string& strSizeHint);

// Mends a finished JPEG movie into strDefaultSuffix's name (as target says); a
// report without output when nothing is damaged. A ToolFailure when the file
// is no finished JPEG movie, or has damage but nothing that can be mended.
RecoverReport RepairMovie(const std::string& input, const OutputTarget& target,
                          const std::string& strDefaultSuffix = "-repaired");

// The tool's rendering: a line for each frame named (damaged frames of a
// rebuilt file on stderr), the summary on stdout, then a ToolFailure when a
// frame was lost.
void PrintRecoverReport(const RecoverReport& r);
