// Files whose writer stopped before close (a crash, a power cut): recognising
// them by their initial header with frames after it, counting the whole frames
// on disk, and rebuilding from those frames the file a finished writer leaves.
//
// An unfinished file still has the header that creation wrote: entry count 0
// and index offset 160 in modes 1-3, zero counts in modes 4 and 5; a finished
// file with no frames ends right after that header (160 or 512 bytes).
// What lies after it in each mode:
//   mode 3: the blobs back to back from offset 160 in frame order, each in its
//     file form; a blob counts when its file form is whole and it decodes, and
//     only while its end stays within the 32-bit offsets of the index.
//   mode 4: records of one size from offset 512; the size comes from the
//     frame-size record of the header block, or from the caller.
//   mode 5: packed records from offset 512; a record counts when the reader's
//     record check accepts it whole. The pixel count comes from the frame-size
//     record, the caller, or else the first record's header.
// A frame that does not count does not end the walk: it goes on at the next
// frame that does (mode 5: the next record the check accepts at a 512-byte
// boundary; mode 3: the next blob marker whose blob counts), and the bytes
// between are damaged frames (as many as the lengths in them place, at least
// one). What follows the last frame that counts is a partial last frame, cut
// by the crash: no frame, dropped as bytes.
#pragma once

#include <vector>

#include "platform/Types.h"

// One frame of an unfinished file, in frame order: where its bytes lie and
// whether it counts (bDamaged: it does not; its bytes are only the region the
// walk could not read as frames).
struct RvoFrameSpan {
    ULONGLONG nAt = 0;
    ULONGLONG nBytes = 0;
    BOOL bDamaged = FALSE;
};

struct RvoUnfinished {
    LONG nMode = 0;
    BOOL bUnfinished = FALSE;           // the initial header with bytes after it
    BOOL bSizeKnown = FALSE;            // modes 4 and 5: the frame size is known (record or caller); mode 3: always
    BOOL bSizeRecorded = FALSE;         // modes 4 and 5: the header block carries the frame size
    BOOL bCounted = FALSE;              // nFrames is known (mode 4 cannot count without the size)
    LONG nWidth = -1;                   // the frame size: modes 4 and 5 as recorded or given;
    LONG nHeight = -1;                  //   mode 3 the largest of the whole blobs, -1 without any
    DWORD nFrames = 0;                  // whole frames that can be recovered
    DWORD nDamaged = 0;                 // damaged frames between them
    std::vector<RvoFrameSpan> frames;   // every frame, whole and damaged, in order
    ULONGLONG nFramesEnd = 0;           // where the last whole frame ends (the start of the frame area without any)
    ULONGLONG nFileBytes = 0;
};

// Reads the header of pszPath and, when the file is unfinished, walks its
// frames. pSize (may be null) gives the frame size of a mode-4 or mode-5 file
// whose header block does not record it; a recorded size that disagrees with
// it fails (ERROR_INVALID_PARAMETER). FALSE with a last error when the file
// cannot be read (ERROR_FILE_NOT_FOUND, ERROR_READ_FAULT) or is no RVO file
// (ERROR_BAD_FORMAT). A finished file is no failure: bUnfinished stays FALSE.
BOOL ScanUnfinished(const WCHAR* pszPath, const SIZE* pSize, RvoUnfinished* pScan);

// What WriteRecovered does with a damaged frame: put in its place the previous
// whole frame (a transparent frame when there is none), or leave it out.
enum RecoverDamaged { kReplaceDamaged,
                      kDropDamaged };

// Writes to pszOut (created, or cut and overwritten) the finished file of the
// scan's frames, byte for byte what the module's writer leaves after writing
// those frames and closing (damaged ones as eDamaged says). pszIn is read only, one frame at a time.
// FALSE with a last error: a scan that is not of an unfinished file or lacks
// the frame size (ERROR_INVALID_PARAMETER), an input that no longer matches
// the scan (ERROR_INVALID_DATA), a failed write (ERROR_WRITE_FAULT, or the
// platform's code).
BOOL WriteRecovered(const WCHAR* pszIn, const RvoUnfinished& scan, const WCHAR* pszOut,
                    RecoverDamaged eDamaged = kReplaceDamaged);
