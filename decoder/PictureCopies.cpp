// An entry's JPEG picture from its blob copies by one rule, and the reading of
// those copies from the file.
#include "decoder/PictureCopies.h"

#include <cstring>

#include "codec/JpeEngine.h"
#include "container/BlobFile.h"
#include "platform/GlobalMemory.h"
#include "platform/LastError.h"

using namespace rvo;

namespace {

// Whether two blobs that were read hold the same bytes.
bool SameBlobBytes(HGLOBAL a, HGLOBAL b) {
    if (!a || !b || GlobalSize(a) != GlobalSize(b)) return false;
    const void* pa = GlobalLock(a);
    const void* pb = GlobalLock(b);
    const bool bSame = pa && pb && std::memcmp(pa, pb, GlobalSize(a)) == 0;
    GlobalUnlock(a);
    GlobalUnlock(b);
    return bSame;
}

// A copy's picture: in the target, or apart in pOwned.
struct CopyPicture {
    const DWORD* pPixels = nullptr;
    std::unique_ptr<BYTE[]> pOwned;
    SIZE size{0, 0};
};

// Decodes one blob, into the target when it has the target's size and
// bIntoFree (the target holds no picture that must stay), else apart. c gets
// the outcome; true when it gave a picture.
bool DecodeCopyPicture(CJpeEngine& engine, HGLOBAL h, const PictureTarget& t, bool bIntoFree, PictureCopy& c,
                       CopyPicture& out) {
    const SIZE s = CJpeEngine::GetBlobSize(h);
    const bool bFits = t.pInto && s.cx == t.size.cx && s.cy == t.size.cy;
    SetLastError(ERROR_SUCCESS);
    if (!bFits && !t.bOtherSizes) {
        SetLastError(ERROR_INVALID_HANDLE);   // what decoding into a buffer of another size gives
    } else if (bFits && bIntoFree) {
        if (engine.DecompressInto(h, t.pInto, &s)) out.pPixels = t.pInto;
    } else {
        out.pOwned.reset(engine.Decompress(h));
        out.pPixels = reinterpret_cast<const DWORD*>(out.pOwned.get());
    }
    if (!out.pPixels) {
        c.state = CopyState::Undecoded;
        c.dwError = GetLastError();
        return false;
    }
    out.size = s;
    c.state = engine.WasDamaged() ? CopyState::Damaged : CopyState::Whole;
    return true;
}

int NoPicture(EntryPicture& out, DWORD dwError) {
    out.dwError = dwError;
    return Fail(dwError);
}

}   // namespace

bool EntryPicture::NoBlobRead() const {
    if (bHeld) return false;
    for (int c = 0; c < nCopies; c++)
        if (copies[c].state != CopyState::Unread) return false;
    return true;
}

int DecodeEntryPicture(CRvoFile& file, int entry, CJpeEngine& engine, const PictureTarget& target,
                       EntryPicture* pOut, CopyCheck check) {
    EntryPicture& out = *pOut;
    out = EntryPicture();
    if (entry < 0 || entry >= file.GetEntryCount()) return NoPicture(out, ERROR_INVALID_PARAMETER);
    const RvoIndexEntry* e = file.GetEntry(entry);
    out.nIndexBlobAt = e->m_nIndexBlobAt;
    CopyPicture pic;
    if (e->m_hBlob) {
        // A blob held in memory (a file being written) has no other copy to turn to.
        out.bHeld = true;
        PictureCopy held;
        if (!DecodeCopyPicture(engine, e->m_hBlob, target, true, held, pic))
            return NoPicture(out, held.dwError ? held.dwError : (DWORD)ERROR_INVALID_DATA);
        out.bDamaged = held.state == CopyState::Damaged;
    } else {
        ULONGLONG anAt[2];
        out.nCopies = file.GetBlobCopies(entry, anAt);
        if (out.nCopies == 0) return NoPicture(out, ERROR_INVALID_FUNCTION);
        // A copy is read only for this picture and dropped after decoding, so
        // reading a movie holds at most two blobs at a time, whatever their length.
        auto Load = [&](int c) {
            PictureCopy& pc = out.copies[c];
            SetLastError(ERROR_SUCCESS);
            HGLOBAL h = file.ReadBlobCopy(pc.nAt);
            if (h) {
                pc.nBytes = GlobalSize(h) - JPEG_BLOB_TAIL_BYTES;
            } else {
                pc.state = CopyState::Unread;
                pc.dwError = GetLastError();
            }
            return h;
        };
        for (int c = 0; c < out.nCopies; c++) out.copies[c].nAt = anAt[c];
        HGLOBAL hFirst = Load(0);
        CBlobOwner firstOwner(hFirst);
        if (hFirst) DecodeCopyPicture(engine, hFirst, target, true, out.copies[0], pic);
        const bool bFirstWhole = out.copies[0].state == CopyState::Whole;
        if (out.nCopies == 2 && (!bFirstWhole || check == CopyCheck::Both)) {
            HGLOBAL hSecond = Load(1);
            CBlobOwner secondOwner(hSecond);
            out.bDiffer = !SameBlobBytes(hFirst, hSecond);
            PictureCopy& second = out.copies[1];
            if (!out.bDiffer) {
                second.state = out.copies[0].state;   // the same bytes decode alike
                second.dwError = out.copies[0].dwError;
            } else if (hSecond) {
                // Decoded apart from a damaged first picture, so that it stays
                // should this one be no better.
                CopyPicture other;
                const bool bIntoFree = !pic.pPixels || pic.pPixels != target.pInto;
                DecodeCopyPicture(engine, hSecond, target, bIntoFree, second, other);
                const bool bBetter = !bFirstWhole && (second.state == CopyState::Whole ||
                                                      (second.state == CopyState::Damaged && !pic.pPixels));
                if (bBetter) pic = std::move(other);
            }
        }
        if (!pic.pPixels)
            return NoPicture(out, out.copies[0].dwError ? out.copies[0].dwError : (DWORD)ERROR_INVALID_DATA);
        out.bDamaged = out.copies[0].state != CopyState::Whole && out.copies[1].state != CopyState::Whole;
    }
    // A picture of the target's size ends in the target, even one decoded apart.
    const bool bFits = target.pInto && pic.size.cx == target.size.cx && pic.size.cy == target.size.cy;
    if (bFits && pic.pPixels != target.pInto) {
        std::memcpy(target.pInto, pic.pPixels, 4 * (size_t)pic.size.cx * (size_t)pic.size.cy);
        pic.pPixels = target.pInto;
        pic.pOwned.reset();
    }
    out.pPixels = pic.pPixels;
    out.pOwned = std::move(pic.pOwned);
    out.size = pic.size;
    return 1;
}

int CRvoFile::GetBlobCopies(int entry, ULONGLONG anAt[2]) const {
    if (entry < 0 || entry >= GetEntryCount()) return 0;
    const RvoIndexEntry* e = GetEntry(entry);
    // The frame-area copy counts unless flag bit 0 says it was never stored
    // there (an offset alone is then not trusted while the record has a copy).
    const bool bFrameArea = e->m_dwBlobOffset != 0 &&
                            (!(e->m_dwFlags & kEntryFlagBlobNotStored) || e->m_nIndexBlobAt == 0);
    int n = 0;
    if (bFrameArea) anAt[n++] = e->m_dwBlobOffset;
    if (e->m_nIndexBlobAt != 0 && (n == 0 || e->m_nIndexBlobAt != anAt[0])) anAt[n++] = e->m_nIndexBlobAt;
    return n;
}

HGLOBAL CRvoFile::ReadBlobCopy(ULONGLONG nAt) {
    if (nAt == 0 || !m_pFile) return Fail(ERROR_INVALID_FUNCTION), nullptr;
    if (m_pFile->Seek((LONGLONG)nAt, CFile::begin) != nAt)
        return Fail(IsIoFailure(GetLastError()) ? GetLastError() : (DWORD)ERROR_HANDLE_EOF), nullptr;
    HGLOBAL h = nullptr;
    return ReadBlobFromFile(m_pFile.get(), &h) ? h : nullptr;
}

int CRvoFile::LoadEntryBlob(int entry) {
    if (entry < 0 || entry >= GetEntryCount()) return Fail(ERROR_INVALID_PARAMETER);
    RvoIndexEntry* e = GetEntry(entry);
    if (e->m_hBlob) return 1;
    // Opening keeps no blob: the copy read first is loaded.
    ULONGLONG anAt[2];
    if (GetBlobCopies(entry, anAt) == 0) return 0;
    e->m_hBlob = ReadBlobCopy(anAt[0]);
    return e->m_hBlob != nullptr;
}

HGLOBAL CRvoFile::TakeBlob(int entry) {
    if (!LoadEntryBlob(entry)) return nullptr;
    RvoIndexEntry* e = GetEntry(entry);
    HGLOBAL h = e->m_hBlob;
    e->m_hBlob = nullptr;
    return h;
}
