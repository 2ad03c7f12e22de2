// Run-length passes over the alpha and colour channels of a frame and the copy
// operations that fill the sections of a packed record.
#include "encoder/ChannelRuns.h"

#include <emmintrin.h>
#include <tmmintrin.h>
#include <sched.h>

#include <algorithm>
#include <cstring>

#include "container/PackedRecord.h"
#include "platform/Cpu.h"

namespace {

constexpr DWORD kColourMask = 0x00FFFFFFu;

// Walks a frame's pixels in row order, handing them out in groups of up to four.
class CGroupWalk {
public:
    CGroupWalk(const DWORD* pPixels, int nStride, const SIZE& size)
        : m_pRow(pPixels), m_nStride(nStride), m_nWidth(size.cx), m_nRowsLeft(size.cy), m_nCol(0) {}

    LONG RowLeft() const { return m_nWidth - m_nCol; }
    const DWORD* Here() const { return m_pRow + m_nCol; }

    // n must not exceed RowLeft().
    void Skip(LONG n) {
        m_nCol += n;
        if (m_nCol == m_nWidth) {
            m_nCol = 0;
            // The row pointer never steps past the last row.
            if (--m_nRowsLeft > 0) m_pRow += m_nStride;
        }
    }

    // The next n (<= 4) pixels: in place when they lie in one row, else gathered
    // into pTmp (a group may span rows, several when the width is below 4).
    const DWORD* Take(DWORD* pTmp, LONG n) {
        if (RowLeft() >= n) {
            const DWORD* p = Here();
            Skip(n);
            return p;
        }
        for (LONG k = 0; k < n; ++k) {
            pTmp[k] = *Here();
            Skip(1);
        }
        return pTmp;
    }

private:
    const DWORD* m_pRow;
    int m_nStride;
    LONG m_nWidth;
    LONG m_nRowsLeft;
    LONG m_nCol;
};

ULONGLONG PixelCount(const SIZE& size) { return (ULONGLONG)size.cx * (ULONGLONG)size.cy; }

LONG GroupSize(ULONGLONG nLeft) { return nLeft < 4 ? (LONG)nLeft : 4; }

// The most pixels of a group-aligned stretch that lies in the current row.
LONG RowStretch(const CGroupWalk& walk, ULONGLONG nLeft) {
    return (LONG)std::min<ULONGLONG>((ULONGLONG)walk.RowLeft(), nLeft);
}

void ExtractAlphaRow(BYTE* pDst, const DWORD* pRow, LONG cx) {
    LONG x = 0;
    if (g_bSse2) {
        for (; x + 16 <= cx; x += 16) {
            const __m128i* p = reinterpret_cast<const __m128i*>(pRow + x);
            __m128i a = _mm_srli_epi32(_mm_loadu_si128(p), 24);
            __m128i b = _mm_srli_epi32(_mm_loadu_si128(p + 1), 24);
            __m128i c = _mm_srli_epi32(_mm_loadu_si128(p + 2), 24);
            __m128i d = _mm_srli_epi32(_mm_loadu_si128(p + 3), 24);
            __m128i packed = _mm_packus_epi16(_mm_packs_epi32(a, b), _mm_packs_epi32(c, d));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(pDst + x), packed);
        }
    }
    for (; x < cx; ++x) pDst[x] = (BYTE)(pRow[x] >> 24);
}

// Adds to each 32-bit lane of acc one when the first two pixels of the group
// of four of that lane (a: pixels 0 to 3, b: 4 to 7, ...) have the same colour.
inline __m128i AddPairsAlike(__m128i acc, __m128i a, __m128i b, __m128i c, __m128i d) {
    const __m128i ab = _mm_unpacklo_epi32(a, b), cd = _mm_unpacklo_epi32(c, d);
    // Shifting the alpha byte out leaves the colour bytes to compare.
    const __m128i diff = _mm_slli_epi32(_mm_xor_si128(_mm_unpacklo_epi64(ab, cd), _mm_unpackhi_epi64(ab, cd)), 8);
    return _mm_sub_epi32(acc, _mm_cmpeq_epi32(diff, _mm_setzero_si128()));
}

ULONGLONG SumLanes(__m128i v) {
    DWORD w[4];
    _mm_storeu_si128(reinterpret_cast<__m128i*>(w), v);
    return (ULONGLONG)w[0] + w[1] + w[2] + w[3];
}

// The groups of a row from pixel x (the row's first pixel that begins a group)
// that lie wholly in the row and whose first two pixels differ in colour: each
// is a literal group of the colour pass. (The other pixels are not compared:
// the count is a floor, and half the work.)
ULONGLONG LiteralGroupsInRow(const DWORD* pRow, LONG x, LONG cx) {
    ULONGLONG n = 0;
    if (g_bSse2) {
        __m128i alike = _mm_setzero_si128();
        const LONG x0 = x;
        for (; x + 16 <= cx; x += 16) {
            const __m128i* q = reinterpret_cast<const __m128i*>(pRow + x);
            alike = AddPairsAlike(alike, _mm_loadu_si128(q), _mm_loadu_si128(q + 1), _mm_loadu_si128(q + 2),
                                  _mm_loadu_si128(q + 3));
        }
        n = (ULONGLONG)(x - x0) / 4 - SumLanes(alike);
    }
    for (; x + 4 <= cx; x += 4) {
        const DWORD* p = pRow + x;
        if ((p[0] ^ p[1]) & kColourMask) ++n;
    }
    return n;
}

// ExtractAlphaRow for a row whose first pixel begins a group, counting its
// literal colour groups (LiteralGroupsInRow) from the same loads: the count
// costs no second read of the frame.
ULONGLONG ExtractAlphaRowCounting(BYTE* pDst, const DWORD* pRow, LONG cx) {
    ULONGLONG n = 0;
    LONG x = 0;
    if (g_bSse2) {
        __m128i alike = _mm_setzero_si128();
        for (; x + 16 <= cx; x += 16) {
            const __m128i* p = reinterpret_cast<const __m128i*>(pRow + x);
            const __m128i a = _mm_loadu_si128(p), b = _mm_loadu_si128(p + 1);
            const __m128i c = _mm_loadu_si128(p + 2), d = _mm_loadu_si128(p + 3);
            alike = AddPairsAlike(alike, a, b, c, d);
            const __m128i packed = _mm_packus_epi16(
                _mm_packs_epi32(_mm_srli_epi32(a, 24), _mm_srli_epi32(b, 24)),
                _mm_packs_epi32(_mm_srli_epi32(c, 24), _mm_srli_epi32(d, 24)));
            _mm_storeu_si128(reinterpret_cast<__m128i*>(pDst + x), packed);
        }
        n = (ULONGLONG)x / 4 - SumLanes(alike);
    }
    for (LONG k = x; k < cx; ++k) pDst[k] = (BYTE)(pRow[k] >> 24);
    return n + LiteralGroupsInRow(pRow, x, cx);
}

// Length of the longest prefix of p[0, n) made of whole groups of four bytes
// equal to v; a multiple of 4.
ULONGLONG UniformAlphaSpan(const BYTE* p, ULONGLONG n, BYTE v) {
    ULONGLONG i = 0;
    if (g_bSse2) {
        const __m128i vv = _mm_set1_epi8((char)v);
        for (; i + 16 <= n; i += 16) {
            __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            if (_mm_movemask_epi8(_mm_cmpeq_epi8(x, vv)) != 0xFFFF) break;
        }
    }
    const DWORD vvvv = v * 0x01010101u;
    for (; i + 4 <= n; i += 4) {
        DWORD w;
        std::memcpy(&w, p + i, 4);
        if (w != vvvv) break;
    }
    return i;
}

// Like UniformAlphaSpan for the colour bytes of n pixels in one row.
LONG UniformColourSpan(const DWORD* p, LONG n, DWORD v) {
    LONG i = 0;
    if (g_bSse2) {
        const __m128i vv = _mm_set1_epi32((int)v);
        const __m128i mask = _mm_set1_epi32((int)kColourMask);
        for (; i + 16 <= n; i += 16) {
            const __m128i* q = reinterpret_cast<const __m128i*>(p + i);
            __m128i e0 = _mm_cmpeq_epi32(_mm_and_si128(_mm_loadu_si128(q), mask), vv);
            __m128i e1 = _mm_cmpeq_epi32(_mm_and_si128(_mm_loadu_si128(q + 1), mask), vv);
            __m128i e2 = _mm_cmpeq_epi32(_mm_and_si128(_mm_loadu_si128(q + 2), mask), vv);
            __m128i e3 = _mm_cmpeq_epi32(_mm_and_si128(_mm_loadu_si128(q + 3), mask), vv);
            __m128i all = _mm_and_si128(_mm_and_si128(e0, e1), _mm_and_si128(e2, e3));
            if (_mm_movemask_epi8(all) != 0xFFFF) break;
        }
    }
    for (; i + 4 <= n; i += 4) {
        if (((p[i] ^ v) | (p[i + 1] ^ v) | (p[i + 2] ^ v) | (p[i + 3] ^ v)) & kColourMask) break;
    }
    return i;
}

// Green, blue and red words of a group of four pixels (missing pixels zero).
inline void GroupWords(const DWORD* q, DWORD* pGreen, DWORD* pBlue, DWORD* pRed) {
    *pGreen = ((q[0] >> 8) & 0xFFu) | (q[1] & 0xFF00u) | ((q[2] << 8) & 0xFF0000u) | ((q[3] << 16) & 0xFF000000u);
    *pBlue = (q[0] & 0xFFu) | ((q[1] << 8) & 0xFF00u) | ((q[2] << 16) & 0xFF0000u) | (q[3] << 24);
    *pRed = ((q[0] >> 16) & 0xFFu) | ((q[1] >> 8) & 0xFF00u) | (q[2] & 0xFF0000u) | ((q[3] << 8) & 0xFF000000u);
}

// Byte shuffles that pick the green, blue and red bytes of four pixels
// (bytes 1, 0, 2 of each) into the words of colour groups; -128 gives zero.
#define RVO_GREEN 1, 5, 9, 13
#define RVO_BLUE 0, 4, 8, 12
#define RVO_RED 2, 6, 10, 14
#define RVO_NONE -128, -128, -128, -128

// Runs of sixteen pixels (four groups each) into 48 bytes of colour groups:
// words g0 b0 r0 g1 | b1 r1 g2 b2 | r2 g3 b3 r3, each a byte shuffle of one or
// two source vectors.
__attribute__((target("ssse3"))) void PackSixteensSsse3(BYTE* pDst, const DWORD* p, LONG nBlocks) {
    const __m128i mA = _mm_setr_epi8(RVO_GREEN, RVO_BLUE, RVO_RED, RVO_NONE);
    const __m128i mB = _mm_setr_epi8(RVO_NONE, RVO_NONE, RVO_NONE, RVO_GREEN);
    const __m128i mC = _mm_setr_epi8(RVO_BLUE, RVO_RED, RVO_NONE, RVO_NONE);
    const __m128i mD = _mm_setr_epi8(RVO_NONE, RVO_NONE, RVO_GREEN, RVO_BLUE);
    const __m128i mE = _mm_setr_epi8(RVO_RED, RVO_NONE, RVO_NONE, RVO_NONE);
    const __m128i mF = _mm_setr_epi8(RVO_NONE, RVO_GREEN, RVO_BLUE, RVO_RED);
    for (LONG i = 0; i < nBlocks; ++i, p += 16, pDst += 48) {
        const __m128i* q = reinterpret_cast<const __m128i*>(p);
        __m128i x0 = _mm_loadu_si128(q), x1 = _mm_loadu_si128(q + 1);
        __m128i x2 = _mm_loadu_si128(q + 2), x3 = _mm_loadu_si128(q + 3);
        __m128i o0 = _mm_or_si128(_mm_shuffle_epi8(x0, mA), _mm_shuffle_epi8(x1, mB));
        __m128i o1 = _mm_or_si128(_mm_shuffle_epi8(x1, mC), _mm_shuffle_epi8(x2, mD));
        __m128i o2 = _mm_or_si128(_mm_shuffle_epi8(x2, mE), _mm_shuffle_epi8(x3, mF));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pDst), o0);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pDst + 16), o1);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(pDst + 32), o2);
    }
}

#undef RVO_GREEN
#undef RVO_BLUE
#undef RVO_RED
#undef RVO_NONE

// The byte shuffle of the colour groups needs SSSE3 on top of SSE2.
bool HasSsse3() {
    static const bool bHas = __builtin_cpu_supports("ssse3");
    return bHas;
}

// One row of cx x 4 bytes; where the destination allows, 16-byte stores that
// bypass the cache, since the record goes to the disk and is not read again.
void CopyRowSse2(BYTE* pDst, const DWORD* pSrc, LONG cx) {
    LONG x = 0;
    if (((uintptr_t)pDst & 3) == 0) {
        for (; x < cx && ((uintptr_t)(pDst + 4 * x) & 15) != 0; ++x) std::memcpy(pDst + 4 * x, pSrc + x, 4);
        for (; x + 16 <= cx; x += 16) {
            const __m128i* s = reinterpret_cast<const __m128i*>(pSrc + x);
            __m128i* d = reinterpret_cast<__m128i*>(pDst + 4 * x);
            __m128i a = _mm_loadu_si128(s), b = _mm_loadu_si128(s + 1);
            __m128i c = _mm_loadu_si128(s + 2), e = _mm_loadu_si128(s + 3);
            _mm_stream_si128(d, a);
            _mm_stream_si128(d + 1, b);
            _mm_stream_si128(d + 2, c);
            _mm_stream_si128(d + 3, e);
        }
        for (; x + 4 <= cx; x += 4) {
            _mm_stream_si128(reinterpret_cast<__m128i*>(pDst + 4 * x),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(pSrc + x)));
        }
    } else {
        for (; x + 4 <= cx; x += 4) {
            _mm_storeu_si128(reinterpret_cast<__m128i*>(pDst + 4 * x),
                             _mm_loadu_si128(reinterpret_cast<const __m128i*>(pSrc + x)));
        }
    }
    if (x < cx) std::memcpy(pDst + 4 * x, pSrc + x, 4 * (size_t)(cx - x));
}

}   // namespace

BOOL EncodeAlphaRuns(BYTE* pAlphaPlane, const DWORD* pPixels, int nStride, const SIZE& size,
                     AlphaRunList& runs, ULONGLONG* pnColourLiterals) {
    const ULONGLONG L = PixelCount(size);
    runs.clear();
    // The plane first: the run walk then reads contiguous bytes whatever the stride.
    const DWORD* pRow = pPixels;
    BYTE* pPlaneRow = pAlphaPlane;
    ULONGLONG nLiterals = 0;
    for (LONG y = 0; y < size.cy; ++y) {
        const LONG nFirstGroup = (LONG)((4 - (ULONGLONG)y * (ULONGLONG)size.cx % 4) % 4);
        if (!pnColourLiterals) {
            ExtractAlphaRow(pPlaneRow, pRow, size.cx);
        } else if (nFirstGroup == 0) {
            nLiterals += ExtractAlphaRowCounting(pPlaneRow, pRow, size.cx);
        } else {
            ExtractAlphaRow(pPlaneRow, pRow, size.cx);
            nLiterals += LiteralGroupsInRow(pRow, nFirstGroup, size.cx);   // the row is in the cache
        }
        pPlaneRow += size.cx;
        if (y + 1 < size.cy) pRow += nStride;
    }
    if (pnColourLiterals) *pnColourLiterals = nLiterals;

    // At most one element per group: growing the list never copies it.
    runs.reserve((size_t)rvo::ColourGroupCount(L));
    bool bRunOpen = false;   // the last element is a run and may grow
    BYTE v = 0;
    ULONGLONG s = 0;
    while (s < L) {
        if (bRunOpen) {
            ULONGLONG span = UniformAlphaSpan(pAlphaPlane + s, L - s, v);
            runs.back().count += (DWORD)span;
            s += span;
            if (s == L) break;
        }
        const LONG n = GroupSize(L - s);
        DWORD w = 0;   // byte k: the alpha of pixel s + k; missing pixels zero
        if (n == 4)
            std::memcpy(&w, pAlphaPlane + s, 4);
        else
            for (LONG k = 0; k < n; ++k) w |= (DWORD)pAlphaPlane[s + k] << (8 * k);
        const BYTE a0 = (BYTE)w;
        const DWORD lanes = n == 4 ? 0xFFFFFFFFu : (1u << (8 * n)) - 1;
        const bool bUniform = ((w ^ (a0 * 0x01010101u)) & lanes) == 0;
        if (bUniform && bRunOpen && a0 == v) {
            runs.back().count += (DWORD)n;   // a short last group of the run's value
        } else if (bUniform) {
            runs.push_back({(DWORD)n, a0 * 0x01010101u});
            bRunOpen = true;
            v = a0;
        } else {
            runs.push_back({(DWORD)n, w});
            bRunOpen = false;
        }
        s += (ULONGLONG)n;
    }
    return rvo::RoundUp16_64(8 * (ULONGLONG)runs.size()) + 528 < L;
}

namespace {

// The colour pass under either rule: it gives up once the list holds more
// than nMaxRuns elements, and, without pbOverLimit, once 16 x the elements
// closed before the last pixel exceeds the module's limit; with pbOverLimit it
// only notes there whether it went past that limit.
BOOL ColourPass(const DWORD* pPixels, int nStride, const SIZE& size, ULONGLONG nMaxRuns, BOOL* pbOverLimit,
                ColourRunList& runs) {
    const ULONGLONG L = PixelCount(size);
    runs.clear();
    // 16 bytes per element against 80 % of the 3 bytes per pixel of raw colour.
    const LONGLONG nLimit = (LONGLONG)((double)(3 * L) * 0.8);
    LONGLONG nClosed = 0;   // elements closed before the last pixel is examined
    bool bOverLimit = false;

    // The pass gives up before it holds more elements than this.
    ULONGLONG nReserve = rvo::ColourGroupCount(L);
    if (!pbOverLimit) nReserve = std::min<ULONGLONG>(nReserve, (ULONGLONG)nLimit / 16 + 2);
    if (nMaxRuns < nReserve) nReserve = nMaxRuns + 1;
    runs.reserve((size_t)nReserve);
    CGroupWalk walk(pPixels, nStride, size);
    bool bRunOpen = false;
    DWORD v = 0;
    ULONGLONG s = 0;
    bool bAbandoned = false;
    while (s < L) {
        if (bRunOpen) {
            // Whole groups of the run's value within a row extend it at once.
            for (;;) {
                LONG nAvail = RowStretch(walk, L - s);
                if (nAvail < 4) break;
                LONG span = UniformColourSpan(walk.Here(), nAvail, v);
                if (span == 0) break;
                runs.back().count += (DWORD)span;
                walk.Skip(span);
                s += (ULONGLONG)span;
                if (span != (nAvail & ~3)) break;
            }
            if (s == L) break;
        }
        const LONG n = GroupSize(L - s);
        DWORD tmp[4];
        const DWORD* p = walk.Take(tmp, n);
        DWORD q[4] = {0, 0, 0, 0};
        for (LONG k = 0; k < n; ++k) q[k] = p[k];

        if (!runs.empty()) {
            // Where the walk closes the last element: at the first pixel that
            // differs from a run, or at the pixel after a literal group.
            ULONGLONG nCloseAt = s;
            if (bRunOpen) {
                LONG k = 0;
                while (k < n && ((q[k] ^ v) & kColourMask) == 0) ++k;
                if (k == n) {
                    runs.back().count += (DWORD)n;   // a short last group of the run's value
                    s += (ULONGLONG)n;
                    continue;
                }
                nCloseAt = s + (ULONGLONG)k;
            }
            // Elements closed while the last pixel is examined do not count.
            if (nCloseAt + 2 <= L) {
                ++nClosed;
                if (16 * nClosed > nLimit) {
                    bOverLimit = true;
                    if (!pbOverLimit) {
                        bAbandoned = true;
                        break;
                    }
                }
            }
        }

        bool bUniform = true;
        for (LONG k = 1; k < n; ++k) bUniform = bUniform && ((q[k] ^ q[0]) & kColourMask) == 0;
        ColourRun run;
        run.count = (DWORD)n;
        if (bUniform) {
            v = q[0] & kColourMask;
            run.bluePattern = (v & 0xFFu) * 0x01010101u;
            run.greenPattern = ((v >> 8) & 0xFFu) * 0x01010101u;
            run.redPattern = ((v >> 16) & 0xFFu) * 0x01010101u;
        } else {
            GroupWords(q, &run.greenPattern, &run.bluePattern, &run.redPattern);
        }
        runs.push_back(run);
        if (runs.size() > nMaxRuns) {
            bAbandoned = true;
            break;
        }
        bRunOpen = bUniform;
        s += (ULONGLONG)n;
    }

    // Once per frame the rest of the time slice goes to other threads.
    sched_yield();
    if (pbOverLimit) *pbOverLimit = bOverLimit;
    if (bAbandoned) {
        FreeRuns(runs);
        return FALSE;
    }
    return TRUE;
}

}   // namespace

BOOL EncodeColourRuns(const DWORD* pPixels, int nStride, const SIZE& size, ColourRunList& runs) {
    return ColourPass(pPixels, nStride, size, ~(ULONGLONG)0, nullptr, runs);
}

BOOL EncodeColourRunsWithin(const DWORD* pPixels, int nStride, const SIZE& size, ULONGLONG nMaxRuns,
                            ColourRunList& runs, BOOL* pbPaysByLimit) {
    BOOL bOverLimit = FALSE;
    const BOOL bWhole = ColourPass(pPixels, nStride, size, nMaxRuns, &bOverLimit, runs);
    if (pbPaysByLimit) *pbPaysByLimit = bWhole && !bOverLimit;
    return bWhole;
}

void CopyAlphaRuns(BYTE* pDst, const AlphaRunList& runs) {
    if (!runs.empty()) std::memcpy(pDst, runs.data(), runs.size() * sizeof(AlphaRun));
}

void CopyColourRuns(BYTE* pDst, const ColourRunList& runs) {
    if (!runs.empty()) std::memcpy(pDst, runs.data(), runs.size() * sizeof(ColourRun));
}

void PackColourGroups(BYTE* pDst, const DWORD* pPixels, int nStride, const SIZE& size) {
    const ULONGLONG L = PixelCount(size);
    CGroupWalk walk(pPixels, nStride, size);
    const bool bVector = g_bSse2 && HasSsse3();
    ULONGLONG s = 0;
    while (s < L) {
        if (bVector) {
            LONG nBlocks = RowStretch(walk, L - s) / 16;
            if (nBlocks > 0) {
                PackSixteensSsse3(pDst, walk.Here(), nBlocks);
                pDst += 48 * (size_t)nBlocks;
                walk.Skip(16 * nBlocks);
                s += 16 * (ULONGLONG)nBlocks;
                continue;
            }
        }
        const LONG n = GroupSize(L - s);
        DWORD tmp[4];
        const DWORD* p = walk.Take(tmp, n);
        DWORD q[4] = {0, 0, 0, 0};
        for (LONG k = 0; k < n; ++k) q[k] = p[k];
        DWORD w[3];
        GroupWords(q, &w[0], &w[1], &w[2]);
        std::memcpy(pDst, w, 12);
        pDst += 12;
        s += (ULONGLONG)n;
    }
}

void CopyFrameRows(BYTE* pDst, const DWORD* pPixels, int nStride, const SIZE& size) {
    const size_t nRowBytes = 4 * (size_t)size.cx;
    const DWORD* pRow = pPixels;
    for (LONG y = 0; y < size.cy; ++y) {
        if (g_bSse2)
            CopyRowSse2(pDst, pRow, size.cx);
        else
            std::memcpy(pDst, pRow, nRowBytes);
        pDst += nRowBytes;
        if (y + 1 < size.cy) pRow += nStride;
    }
    // Streaming stores must be visible before the record is handed to the disk.
    if (g_bSse2) _mm_sfence();
}
