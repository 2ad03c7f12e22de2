// An entry's JPEG picture from the copies of its blob: the frame-area copy and
// the index copy in the file, or the blob the entry holds in memory. The only
// reader of those copies outside container/: the frame reader, the preload
// and the tool's verify all take a picture, and learn which copies are
// damaged, through DecodeEntryPicture.
#pragma once

#include <memory>

#include "container/RvoFile.h"
#include "platform/Types.h"

class CJpeEngine;

// What one copy of a picture gave.
enum class CopyState {
    Unknown,     // not looked at: an earlier copy decoded whole
    Whole,       // it decodes, and libjpeg met no damage
    Unread,      // it cannot be read from the file (wrong marker, bad lengths, short, or a failed read)
    Undecoded,   // it was read but does not decode (or not at the size asked for)
    Damaged,     // it decodes, but libjpeg read past damage: the picture is only what the damage leaves
};

struct PictureCopy {
    ULONGLONG nAt = 0;      // where its file form begins
    ULONGLONG nBytes = 0;   // its file form's length; 0 when it cannot be read
    CopyState state = CopyState::Unknown;
    DWORD dwError = 0;   // the last error that an Unread or Undecoded copy left (0: none)
};

// Where the caller wants the picture: a picture of exactly `size` is decoded
// into pInto (size.cx x size.cy packed pixels); one of another size is decoded
// apart when bOtherSizes, or counts as a copy that does not decode.
struct PictureTarget {
    DWORD* pInto = nullptr;
    SIZE size{0, 0};
    bool bOtherSizes = true;
};

// Which copies are looked at.
enum class CopyCheck {
    Picture,   // the first copy, and the second only when the first is not whole
    Both,      // both read and compared, the second decoded when it differs from the first
};

struct EntryPicture {
    bool bHeld = false;   // decoded from the blob the entry holds in memory: no copy in the file
    int nCopies = 0;      // copies in the file: 0, 1 or 2, in the order they are read
    PictureCopy copies[2];
    ULONGLONG nIndexBlobAt = 0;   // which copy is the index copy
    bool bDiffer = false;         // CopyCheck::Both: the two copies' bytes differ (or one is unread)
    // The picture, when there is one: pPixels is the target's pInto for a
    // picture of the target's size, else pOwned.
    const DWORD* pPixels = nullptr;
    std::unique_ptr<BYTE[]> pOwned;
    SIZE size{0, 0};
    bool bDamaged = false;   // the picture is what a damaged copy decodes to: no copy decodes whole
    DWORD dwError = 0;       // no picture: why (the first copy's error)

    // No copy in the file could be read, nor is a blob held: the entry has no picture blob to decode.
    bool NoBlobRead() const;
};

// The picture of entry by one rule: its first copy is decoded; when that one
// cannot be read, does not decode or is damaged, the other; a copy whose bytes
// are the first's gives what the first gave. When neither decodes whole the
// picture is the first one that decodes at all, and bDamaged says so. 1 with
// the picture in *pOut; 0 with pOut->dwError (also the last error) when no copy
// gives one. engine decodes; the caller's engine keeps its row table between
// pictures.
int DecodeEntryPicture(CRvoFile& file, int entry, CJpeEngine& engine, const PictureTarget& target,
                       EntryPicture* pOut, CopyCheck check = CopyCheck::Picture);
