// Damaged copies of a finished movie and what the module makes of each.
#include "tests/support/CorruptionSweep.h"

#include <algorithm>
#include <cstdio>
#include <random>

#include "container/RvoFile.h"
#include "platform/GlobalMemory.h"
#include "platform/LastError.h"
#include "tests/support/Movies.h"
#include "tests/support/SyntheticFrames.h"
#include "tests/support/TestFiles.h"

namespace rvotest {

namespace {

using Range = std::pair<uint64_t, uint64_t>;

// Whether [a, b) lies wholly inside the union of the ranges.
bool Covered(uint64_t a, uint64_t b, std::vector<Range> ranges) {
    std::sort(ranges.begin(), ranges.end());
    for (const Range& r : ranges) {
        if (a >= b) break;
        if (r.first > a) return false;
        if (r.second > a) a = r.second;
    }
    return a >= b;
}

// The frame read back through the reader, and whether it came back as read
// (not failed, not given as far as damaged copies decode).
bool ReadWhole(CRvoFile& r, unsigned k, std::vector<uint32_t>& px, int w, int h) {
    SetLastError(ERROR_SUCCESS);
    const int entry = r.LocateFrame(k);
    const int nOk = r.ReadFrame((unsigned)entry, reinterpret_cast<DWORD*>(px.data()), w, h, TRUE, w);
    return nOk && GetLastError() != ERROR_FILE_CORRUPT;
}

// Whether the two copies of every JPEG picture load and agree.
bool CopiesAgree(CRvoFile& r) {
    for (int i = 0; i < r.GetEntryCount(); i++) {
        ULONGLONG anAt[2];
        const int n = r.GetBlobCopies(i, anAt);
        HGLOBAL h[2] = {nullptr, nullptr};
        bool bSame = true;
        for (int c = 0; c < n; c++) {
            h[c] = r.ReadBlobCopy(anAt[c]);
            bSame = bSame && h[c] != nullptr;
        }
        if (bSame && n == 2) {
            const size_t nBytes = GlobalSize(h[0]);
            const void* a = GlobalLock(h[0]);
            const void* b = GlobalLock(h[1]);
            bSame = nBytes == GlobalSize(h[1]) && std::memcmp(a, b, nBytes) == 0;
            GlobalUnlock(h[0]);
            GlobalUnlock(h[1]);
        }
        for (HGLOBAL x : h)
            if (x) GlobalFree(x);
        if (!bSame) return false;
    }
    return true;
}

}   // namespace

bool MakeSweepMovie(LONG nMode, const std::string& intact, const std::string& damagedPath, SweepMovie* pMovie) {
    SweepMovie& m = *pMovie;
    m = SweepMovie();
    m.nMode = nMode;
    m.nWidth = 64;
    m.nHeight = 48;
    // Packed files get each record type: raw (noise), alpha runs, colour runs.
    const Content kinds[] = {Content::Natural, Content::Graphics, Content::Noise, Content::AlphaNoise};
    std::vector<std::vector<uint32_t>> src;
    for (uint32_t k = 0; k < 4; k++)
        src.push_back(MakeFrame(m.nWidth, m.nHeight, nMode == 3 ? Content::Natural : kinds[k], k));
    m.path = damagedPath;
    if (!WriteMovie(intact, nMode, m.nWidth, m.nHeight, src)) return false;
    m.bytes = ReadAll(intact);

    CRvoFile r;
    if (!OpenMovie(r, intact) || r.GetFrameCount() != (int)src.size()) return false;
    m.checked.push_back({0, 8});   // the magic
    uint64_t nAt = 512;
    for (unsigned k = 0; k < src.size(); k++) {
        std::vector<uint32_t> px((size_t)m.nWidth * m.nHeight);
        if (!ReadWhole(r, k, px, m.nWidth, m.nHeight)) return false;
        m.frames.push_back(px);
        std::vector<Range> p;
        if (nMode == 3) {
            const RvoIndexEntry* e = r.GetEntry((int)k);
            p.push_back({e->m_dwBlobOffset, e->m_dwBlobOffset + (uint64_t)e->m_dwIndexBlobBytes});
            // The index copy's header is the index's own structure too (its
            // lengths place the next record), so only its streams are the picture's.
            p.push_back({e->m_nIndexBlobAt + 20, e->m_nIndexBlobAt + e->m_dwIndexBlobBytes});
            // Any change to either copy makes the copies differ.
            m.checked.insert(m.checked.end(), p.begin(), p.end());
            m.checked.push_back({e->m_nIndexBlobAt, e->m_nIndexBlobAt + 20});
        } else {
            const uint64_t nBytes = nMode == 4 ? r.FrameBytes() : r.RecordBytesAt((unsigned)k);
            p.push_back({nAt, nAt + nBytes});
            if (nMode == 5) {
                // The record's tag and length, and its pixel count.
                m.checked.push_back({nAt, nAt + 8});
                m.checked.push_back({nAt + 12, nAt + 16});
            }
            nAt += nBytes;
        }
        m.payload.push_back(p);
    }
    // The size table follows the last record: a word per frame.
    if (nMode == 5) m.checked.push_back({nAt, nAt + 4 * src.size()});
    r.Close(FALSE);
    return true;
}

Damage DrawDamage(const SweepMovie& m, uint64_t r1, uint64_t r2) {
    Damage d;
    const uint64_t n = m.bytes.size();
    d.kind = (DamageKind)(r1 % 3);
    d.nAt = (r1 >> 8) % n;
    // Short damages (a few bytes) as often as long ones (up to 2,000).
    d.nBytes = d.kind == DamageKind::Cut ? n - d.nAt : 1 + (r2 % ((r2 >> 20) & 1 ? 16 : 2000));
    d.nBytes = std::min(d.nBytes, n - d.nAt);
    d.bFlip = (uint8_t)(((r2 >> 32) & 0xFF) | 1);
    return d;
}

std::string DescribeDamage(const Damage& d) {
    const char* what = d.kind == DamageKind::Zero ? "zeroed" : d.kind == DamageKind::Flip ? "flipped"
                                                                                          : "cut";
    if (d.kind == DamageKind::Cut) return "cut to " + std::to_string(d.nAt) + " bytes";
    return std::to_string(d.nBytes) + " bytes at " + std::to_string(d.nAt) + " " + what +
           (d.kind == DamageKind::Flip ? " (xor " + std::to_string(d.bFlip) + ")" : "");
}

std::string CheckDamage(const SweepMovie& m, const Damage& d, SweepCounts* pCounts) {
    SweepCounts& c = *pCounts;
    c.nDamages++;
    std::vector<uint8_t> bytes = m.bytes;
    if (d.kind == DamageKind::Cut) bytes.resize((size_t)d.nAt);
    for (uint64_t i = d.nAt; d.kind != DamageKind::Cut && i < d.nAt + d.nBytes; i++)
        bytes[(size_t)i] = d.kind == DamageKind::Zero ? 0 : (uint8_t)(bytes[(size_t)i] ^ d.bFlip);

    // Must the damage be found: a cut always; else a changed byte that carries a check.
    bool bMustFind = d.kind == DamageKind::Cut;
    for (const Range& r : m.checked)
        for (uint64_t i = std::max(r.first, d.nAt); !bMustFind && i < std::min(r.second, d.nAt + d.nBytes); i++)
            bMustFind = bytes[(size_t)i] != m.bytes[(size_t)i];
    if (bMustFind) c.nMustFind++;
    // Damage only to pictures (records or blob copies): the file must open.
    std::vector<Range> allPayload;
    for (const auto& p : m.payload) allPayload.insert(allPayload.end(), p.begin(), p.end());
    const bool bOnlyPictures = d.kind != DamageKind::Cut && Covered(d.nAt, d.nAt + d.nBytes, allPayload);

    // A new file each time: ext4 writes a file cut to 0 bytes and refilled
    // through to the disk at close, which would make the sweep wait on it.
    std::remove(m.path.c_str());
    WriteAll(m.path, bytes);
    bool bFound = false;
    std::string strFailure;
    {
        CRvoFile r;
        if (!OpenMovie(r, m.path)) {
            bFound = true;
            if (bOnlyPictures) strFailure = "the file does not open, though only pictures are damaged";
        } else {
            c.nOpened++;
            const int nFrames = r.GetFrameCount();
            if (nFrames != (int)m.frames.size()) bFound = true;
            std::vector<uint32_t> px((size_t)m.nWidth * m.nHeight);
            for (int k = 0; k < std::min<int>(nFrames, (int)m.frames.size()) && strFailure.empty(); k++) {
                std::fill(px.begin(), px.end(), 0xDEADBEEFu);
                const bool bWhole = ReadWhole(r, (unsigned)k, px, m.nWidth, m.nHeight);
                if (!bWhole) bFound = true;
                std::vector<Range> others;
                for (size_t j = 0; j < m.payload.size(); j++)
                    if (j != (size_t)k) others.insert(others.end(), m.payload[j].begin(), m.payload[j].end());
                const bool bIntact = d.kind != DamageKind::Cut ? Covered(d.nAt, d.nAt + d.nBytes, others)
                                                               : Covered(d.nAt, m.bytes.size(), others);
                if (bIntact) {
                    if (!bWhole) strFailure = "intact frame " + std::to_string(k) + " is called damaged";
                    else if (px != m.frames[(size_t)k]) strFailure = "intact frame " + std::to_string(k) + " reads back changed";
                    else c.nIntactFrames++;
                } else if (m.nMode == 3 && bWhole && px == m.frames[(size_t)k] && bOnlyPictures) {
                    c.nReadFromOtherCopy++;
                } else if (bWhole && px != m.frames[(size_t)k] && bOnlyPictures) {
                    c.nChangedUnnoticed++;
                }
            }
            if (m.nMode == 3 && !CopiesAgree(r)) bFound = true;
            r.Close(FALSE);
        }
    }
    if (bFound) c.nFound++;
    if (strFailure.empty() && bMustFind && !bFound) strFailure = "damage to bytes that carry a check is not found";
    return strFailure;
}

std::string RunCorruptionSweep(const SweepMovie& m, uint64_t nSeed, int nDamages, SweepCounts* pCounts) {
    std::mt19937_64 rng(nSeed);
    for (int i = 0; i < nDamages; i++) {
        const uint64_t r1 = rng(), r2 = rng();
        const Damage d = DrawDamage(m, r1, r2);
        const std::string strFailure = CheckDamage(m, d, pCounts);
        if (!strFailure.empty()) return "damage " + std::to_string(i) + " (" + DescribeDamage(d) + "): " + strFailure;
    }
    return "";
}

}   // namespace rvotest
