// What the module accepts from a file: large enough for real movies (8K frames,
// hours of video), small enough that a damaged or hostile file cannot make a
// 32-bit process allocate absurd amounts. Every reader checks against these.
#pragma once

#include "platform/Types.h"

namespace rvo {

constexpr LONG kMaxFrameDimension = 16384;                 // width or height in pixels
constexpr ULONGLONG kMaxFramePixels = 8192ull * 8192ull;   // 256 MiB of pixels per frame
constexpr ULONGLONG kMaxFrameBytes = 4ull * kMaxFramePixels + 512 + 16;
constexpr DWORD kMaxEntries = 10000000;                 // index records or frames
constexpr DWORD kMaxNameChars = 32767;                  // entry names (paths)
constexpr DWORD kMaxBlobBytes = 512u * 1024u * 1024u;   // one picture blob's streams
constexpr DWORD kMaxExtraItems = 1u << 20;              // 16-byte extra items per record

// True when a frame of cx x cy pixels is within the limits (zero sizes included).
inline bool FrameSizeAllowed(LONGLONG cx, LONGLONG cy) {
    return cx >= 0 && cy >= 0 && cx <= kMaxFrameDimension && cy <= kMaxFrameDimension &&
           (ULONGLONG)cx * (ULONGLONG)cy <= kMaxFramePixels;
}

}   // namespace rvo
