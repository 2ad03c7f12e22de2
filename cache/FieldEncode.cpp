// Field run-length encoder: rows of a frame into tokens and literal slots
// (FieldEncode), and those into a locked field record (FieldPack).
#include <cstdint>
#include <cstring>

#include "cache/FieldCodec.h"
#include "cache/PreloadBlocks.h"
#include "platform/ByteOrder.h"
#include "platform/LastError.h"
#include "platform/RawFile.h"

using namespace rvo;

namespace {

// Makes room for nNeed more entries after nUsed, growing by whole steps of
// nGrowth from the initial size and keeping the first nUsed entries.
bool Reserve(void*& p, LONG& nCapacity, LONG nUsed, LONGLONG nNeed, LONG nGrowth, size_t nEntryBytes) {
    if (p && (LONGLONG)nCapacity - nUsed >= nNeed) return true;
    LONGLONG nNew = p ? nCapacity : kFieldWorkInitial;
    if (nNew - nUsed < nNeed) nNew += (nUsed + nNeed - nNew + nGrowth - 1) / nGrowth * nGrowth;
    // Counts travel as LONG, and the 32-bit build cannot allocate beyond size_t.
    if (nNew > INT32_MAX || (ULONGLONG)nNew * nEntryBytes > SIZE_MAX) return false;
    void* pNew = AllocAligned((size_t)nNew * nEntryBytes);
    if (!pNew) return false;
    if (p && nUsed > 0) std::memcpy(pNew, p, (size_t)nUsed * nEntryBytes);
    FreeAligned(p);
    p = pNew;
    nCapacity = (LONG)nNew;
    return true;
}

// Parity of a pixel's offset in its 8-byte aligned frame buffer.
inline unsigned PixelParity(const DWORD* p) { return (unsigned)(reinterpret_cast<uintptr_t>(p) >> 2) & 1u; }

// Literal stretches are mostly a few pixels: a library call per stretch would cost more than the copy.
inline void CopySlots(DWORD* d, const DWORD* s, LONG n) {
    if (n > 16) {
        std::memcpy(d, s, 4 * (size_t)n);
        return;
    }
    for (LONG i = 0; i < n; i++) d[i] = s[i];
}

}   // namespace

BOOL FieldEncode(const DWORD* pFirstRow, LONG nWidth, ptrdiff_t nStep, const DWORD* pRowLimit,
                 void*& pTokenArray, LONG& nTokenCapacity, LONG& nTokens,
                 void*& pSlotArray, LONG& nSlotCapacity, LONG& nSlots) {
    nTokens = 0;
    nSlots = 0;
    if (nWidth <= 0 || nWidth > 0xFFFF || nStep < nWidth || !pFirstRow) return Fail(ERROR_INVALID_PARAMETER);
    // Only rows that lie wholly before the limit are read.
    const ptrdiff_t nSpan = pRowLimit - pFirstRow;
    const ptrdiff_t nRows = nSpan >= nWidth ? (nSpan - nWidth) / nStep + 1 : 0;

    LONG T = 0;
    LONG S = 0;
    for (ptrdiff_t y = 0; y < nRows; y++) {
        // A row makes at most width + 2 tokens and width + 1 slots (pads
        // included), so reserving width + 4 of each covers it.
        if (!Reserve(pTokenArray, nTokenCapacity, T, (LONGLONG)nWidth + 4, kFieldTokenGrowth, sizeof(WORD)) ||
            !Reserve(pSlotArray, nSlotCapacity, S, (LONGLONG)nWidth + 4, kFieldSlotGrowth, sizeof(DWORD)))
            return Fail(ERROR_OUTOFMEMORY);
        WORD* tok = static_cast<WORD*>(pTokenArray);
        DWORD* slot = static_cast<DWORD*>(pSlotArray);
        const DWORD* row = pFirstRow + y * nStep;

        WORD wRowBit = kFieldRowStart;   // on the row's first token only
        LONG nOpenLiteral = -1;          // the literal token that later pixels may join
        LONG p = 0;
        while (p < nWidth) {
            const DWORD v = row[p];
            LONG R = 1;
            while (p + R < nWidth && row[p + R] == v) R++;

            if (R >= kFieldMinRun) {
                // The last two pixels of the run open the literal that follows.
                for (LONG n = R - 2; n > 0;) {
                    const LONG take = n < kFieldMaxCount ? n : kFieldMaxCount;
                    tok[T++] = (WORD)(wRowBit | kFieldRun | take);
                    wRowBit = 0;
                    slot[S++] = v;
                    n -= take;
                }
                p += R - 2;
                nOpenLiteral = -1;
                continue;
            }

            // Pixel by pixel, every stretch before the next run of kFieldMinRun
            // equal pixels would join this literal (equal pairs go one pixel
            // at a time, but still join it); take the whole stretch at once.
            LONG q = p + R;
            while (q < nWidth) {
                LONG g = 1;
                while (g < kFieldMinRun && q + g < nWidth && row[q + g] == row[q]) g++;
                if (g >= kFieldMinRun) break;
                q += g;
            }
            LONG c = q - p;
            while (c > 0) {
                if (nOpenLiteral < 0 || (tok[nOpenLiteral] & kFieldCountMask) == kFieldMaxCount) {
                    // A new literal starts on a slot of its first pixel's parity;
                    // a literal continuing a full one already is on it.
                    if (PixelParity(row + p) != ((unsigned)S & 1u)) {
                        tok[T++] = (WORD)(wRowBit | kFieldLiteral);
                        wRowBit = 0;
                        slot[S++] = 0;
                    }
                    nOpenLiteral = T;
                    tok[T++] = (WORD)(wRowBit | kFieldLiteral);
                    wRowBit = 0;
                }
                const LONG nRoom = kFieldMaxCount - (tok[nOpenLiteral] & kFieldCountMask);
                const LONG take = c < nRoom ? c : nRoom;
                tok[nOpenLiteral] = (WORD)(tok[nOpenLiteral] + take);
                CopySlots(slot + S, row + p, take);
                S += take;
                p += take;
                c -= take;
            }
        }
    }
    nTokens = T;
    nSlots = S;
    return TRUE;
}

BYTE* FieldPack(LONG nWidth, LONG nHeight, const void* pTokens, LONG nTokens, const void* pSlots, LONG nSlots,
                LONG& nUnits8) {
    nUnits8 = 0;
    if (nWidth < 0 || nWidth > 0xFFFF || nHeight < 0 || nHeight > 0xFFFF || nTokens < 0 || nSlots < 0 ||
        (nTokens && !pTokens) || (nSlots && !pSlots)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    const ULONGLONG nWords = FieldRecordWords((ULONGLONG)nTokens, (ULONGLONG)nSlots);
    const ULONGLONG nBytes = 4 * nWords;
    // The cache keeps each block's size as a 32-bit count.
    if (nBytes > UINT32_MAX || nBytes > SIZE_MAX) {
        SetLastError(ERROR_ARITHMETIC_OVERFLOW);
        return nullptr;
    }
    // Stop before the record would push the system into paging or starve the host.
    if (!PreloadMemoryAllows(nBytes)) return nullptr;
    BYTE* rec = NewLockedBlock((size_t)nBytes);
    if (!rec) return nullptr;

    const DWORD nLiteralOffset = (DWORD)(4 + 2 * (((ULONGLONG)nTokens + 3) / 4));
    StoreLe16(rec + kFieldWidthAt, (WORD)nWidth);
    StoreLe16(rec + kFieldHeightAt, (WORD)nHeight);
    StoreLe32(rec + kFieldTokenCountAt, (DWORD)nTokens);
    StoreLe32(rec + kFieldLiteralOffsetAt, nLiteralOffset);
    StoreLe32(rec + kFieldTotalWordsAt, (DWORD)nWords);
    // Tokens and slots are little-endian in memory already; the tails carry no
    // meaning and are zeroed so equal fields give equal records.
    BYTE* pTok = rec + kFieldHeaderBytes;
    BYTE* pSlot = rec + 4 * (size_t)nLiteralOffset;
    if (nTokens) std::memcpy(pTok, pTokens, 2 * (size_t)nTokens);
    std::memset(pTok + 2 * (size_t)nTokens, 0, (size_t)(pSlot - pTok) - 2 * (size_t)nTokens);
    if (nSlots) std::memcpy(pSlot, pSlots, 4 * (size_t)nSlots);
    std::memset(pSlot + 4 * (size_t)nSlots, 0, (size_t)nBytes - 4 * (size_t)nLiteralOffset - 4 * (size_t)nSlots);
    nUnits8 = (LONG)(nWords / 2);
    return rec;
}

void FreeFieldWork(void*& p, LONG& nCapacity) {
    FreeAligned(p);
    p = nullptr;
    nCapacity = 0;
}
