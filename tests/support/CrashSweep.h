// A writer that crashes at any point, as databases test it: the platform's
// crash point hook stops it at the k-th write or byte (nothing after reaches
// the file, and the writer never finishes it), over an older and longer movie
// in the same file, as a host records over an old take. Recovery must then
// give exactly the frames whose bytes were all written, each as the finished
// file gives it, and never a frame of the old movie.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Types.h"

namespace rvotest {

struct CrashMovie {
    LONG nMode = 0;   // 3, 4 or 5
    int nWidth = 0, nHeight = 0;
    std::vector<std::vector<uint32_t>> frames;   // what the writer is given
    std::vector<std::vector<uint32_t>> want;     // each frame as the finished file reads back
    // Where each frame begins in the finished file, and where the last one ends.
    std::vector<uint64_t> bounds;
    ULONGLONG nWrites = 0, nBytes = 0;   // the writer's writes and bytes for the whole movie
    std::string path;                    // where each crashed movie is written
    std::string oldPath;                 // the longer movie it is written over (path + "-old"; the caller removes both)
};

struct CrashCounts {
    long long nPoints = 0;
    long long nFinished = 0;     // the crash came after the writer's last byte
    long long nTorn = 0;         // the crash tore the closing header (opened or failed cleanly)
    long long nRecovered = 0;    // the unfinished file was rebuilt
    long long nFramesBack = 0;   // frames recovery gave back, each equal to its input
};

// Every frame of the file as it reads back through CRvoFile at w x h; false
// when it does not open or, with bMustRead, a frame does not read.
bool ReadEveryFrame(const std::string& path, int w, int h, bool bMustRead, std::vector<std::vector<uint32_t>>* pFrames);

// n frames for a sweep of the mode: graphics over transparency for the
// record modes (records of every size), smooth ramps for JPEG, which takes
// any picture of the smallest sizes.
std::vector<std::vector<uint32_t>> SweepFrames(LONG nMode, int w, int h, int n);

// A movie of the mode written once in full (path + "-ref", removed after) to learn its bounds,
// byte and write counts, and frames as they read back, and the longer movie
// crashes are written over. False when the platform has no crash point hook
// (*pbHooked false) or the movie cannot be made.
bool MakeCrashMovie(LONG nMode, int w, int h, int nFrames, const std::string& path, CrashMovie* pMovie,
                    bool* pbHooked);

// Writes the movie stopped at its k-th write (bBytes false) or byte (true),
// recovers it and checks the frames: "" when all holds, else what did not.
std::string CheckCrashPoint(const CrashMovie& m, bool bBytes, ULONGLONG k, CrashCounts* pCounts);

}   // namespace rvotest
