// Checking that every frame of an RVO file decodes, with the module's own
// reader: each record of the raw modes is read (and a packed record is
// checked before it is expanded), each picture of the index modes is rebuilt
// (every JPEG blob decoded, every still image read). A JPEG picture's two
// copies are compared, and when they differ each is decoded, to tell which
// one is damaged and whether the frame still reads whole from the other.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "container/RvoFile.h"

class CProgressBar;

struct VerifyResult {
    long long nFrames = 0;
    long long nChecked = 0;     // records or pictures decoded
    long long nBadFrame = -1;   // the first frame that does not decode; -1 when all do
    std::string strProblem;     // why, in words
    DWORD dwBadError = 0;       // the reader's error for it (an I/O failure is no damage)
    // Frames of a JPEG file that read whole from one copy of their picture
    // while the other copy is damaged, one line each ("frame 3: ..."), in
    // frame order; the file is damaged, though every such frame is readable.
    std::vector<std::string> damagedCopies;
    long long nFirstDamagedCopy = -1;
    // Frames whose bytes could only partly be checked, in words ("frames 0-9
    // (raw pixel bytes carry no check)"); empty when every frame was checked in full.
    std::string strPartlyChecked;
};

// The one line a damaged file's report ends with (after the frame that does
// not decode, or the frames with a damaged copy); empty for an intact file.
std::string DamageSummary(const VerifyResult& r);

// file is open (OpenRvoOrFail) from path; nThreads workers check records or
// pictures at once, each but the first through its own handle on path. The
// result is the one a single thread gives. pBar may be null.
VerifyResult VerifyFrames(CRvoFile& file, const std::string& path, int nThreads, CProgressBar* pBar);

// The copies of one JPEG picture in a file and what they hold. Both are
// loaded and compared; the first is decoded, the second only when they differ.
struct PictureCopies {
    int nCopies = 0;                 // 0 for a picture held in memory or an entry without a blob
    ULONGLONG anAt[2] = {0, 0};      // where each copy's file form begins, as the reader orders them
    ULONGLONG anBytes[2] = {0, 0};   // each copy's file form length; 0 when it cannot be read
    ULONGLONG nIndexBlobAt = 0;      // which of them is the index copy
    std::string strWhy[2];           // why each is damaged; empty when it is whole
    bool bDiffer = false;            // the two copies differ
    bool bUndecided = false;         // they differ and both decode whole: which is damaged cannot be told
    int nWhole = -1;                 // a copy that decodes whole (the first such), -1 when none does
    DWORD dwReadError = 0;           // the system failed to read a copy (no damage then): its error

    std::string Name(int c) const;   // "frame-area copy" or "index copy"
};
PictureCopies CheckPictureCopies(CRvoFile& file, int entry);

// The frame count of an open file, or a ToolFailure naming path when the
// file claims more frames than the module accepts.
long long CheckedFrameCount(CRvoFile& file, const std::string& path);
