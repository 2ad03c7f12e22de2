// A disk that fails, swept as the crash sweep sweeps crashes: the platform's
// fault hook (platform/FaultPoint.h) fails the k-th file call (read, write,
// seek, set-end-of-file, close) of a host session through the dispatcher, for
// every k the session makes, with a chosen error. At each point:
//   - writing (commands 6, 8 for each frame until one fails, 10): when command
//     10 says done the file holds exactly the frames command 8 said were
//     written, each as a clean file reads back; when it fails they are in the
//     file or in what recovery rebuilds from it;
//   - reading (commands 5 and 7 for each frame, into a buffer of its own):
//     every frame command 7 says is done is the right frame, never the
//     previous one; a failed frame is the only one (the fault fails one call),
//     and asking for it again gives it;
//   - preloading (command 9, then command 7 for each frame): a preload that
//     stopped early leaves the fault's error as the last error, and every
//     frame still reads right, from memory or from the file.
// A point where the fault failed a call and every command said done passes
// only where the work was done all the same (a second copy of a picture read
// instead, a failed clean-up after a failure already reported).
#pragma once

#include <string>

#include "platform/Types.h"

namespace rvotest {

enum class IoPhase { Write,
                     Read,
                     Preload };

struct IoSweepCounts {
    long long nPoints = 0;     // calls failed, one run each
    long long nReported = 0;   // a command reported the failure
    long long nAbsorbed = 0;   // every command said done, and the work was done
    long long nRecovered = 0;  // writing: command 10 failed and recovery gave the frames back
};

// Sweeps every file call of the phase for a movie of nFrames w x h frames in
// the mode (3, 4 or 5) at path (and path-derived names, removed after), the
// calls failing with dwError; with bSticky every call from the k-th on fails
// (a full disk). nStride > 1 fails only every nStride-th call (a short form).
// "" when every point holds, else the first point that does not and why.
std::string SweepIoErrors(LONG nMode, IoPhase phase, DWORD dwError, bool bSticky, int w, int h, int nFrames,
                          const std::string& path, IoSweepCounts* pCounts, int nStride = 1);

const char* IoPhaseName(IoPhase phase);

// The whole sweep: each mode (3, 4, 5), each phase, and each error a disk
// gives (EIO and EACCES once, a disk that stays full: their Win32 codes), over
// movies of nFrames w x h frames at pathStem plus the mode. One line of counts
// a run on stdout; "" when every point holds, else the first that does not.
std::string SweepEveryIoError(int w, int h, int nFrames, const std::string& pathStem);

}   // namespace rvotest
