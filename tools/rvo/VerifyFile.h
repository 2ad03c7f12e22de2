// Checking that every frame of an RVO file decodes, with the module's own
// reader: each record of the raw modes is read (and a packed record is
// checked before it is expanded), each picture of the index modes is rebuilt
// (every JPEG blob decoded, every still image read).
#pragma once

#include <memory>
#include <string>

#include "container/RvoFile.h"

class CProgressBar;

struct VerifyResult {
    long long nFrames = 0;
    long long nChecked = 0;       // records or pictures decoded
    long long nBadFrame = -1;     // the first frame that does not decode; -1 when all do
    std::string strProblem;       // why, in words
};

// file is open (OpenRvoOrFail) from path; nThreads workers check records or
// pictures at once, each but the first through its own handle on path. The
// result is the one a single thread gives. pBar may be null.
VerifyResult VerifyFrames(CRvoFile& file, const std::string& path, int nThreads, CProgressBar* pBar);

// The frame count of an open file, or a ToolFailure naming path when the
// file claims more frames than the module accepts.
long long CheckedFrameCount(CRvoFile& file, const std::string& path);
