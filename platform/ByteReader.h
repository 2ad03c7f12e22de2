// A bounded reader over bytes that came from a file or a blob: every header,
// record and table the module parses is read through one. A read past the end
// gives zeros and sets a sticky flag, so a parser reads a whole record and
// tests Ok() once before it uses any value.
#pragma once

#include <cstddef>
#include <cstring>

#include "platform/ByteOrder.h"
#include "platform/Types.h"

class CByteReader {
public:
    CByteReader(const BYTE* p, size_t n) : m_pBegin(p), m_pCur(p), m_pEnd(p + n) {}

    BYTE ReadU8() {
        if (!Take(1)) return 0;
        return m_pCur++[0];
    }
    WORD ReadU16LE() {
        if (!Take(2)) return 0;
        const WORD v = LoadLe16(m_pCur);
        m_pCur += 2;
        return v;
    }
    DWORD ReadU32LE() {
        if (!Take(4)) return 0;
        const DWORD v = LoadLe32(m_pCur);
        m_pCur += 4;
        return v;
    }
    LONG ReadS32LE() { return (LONG)ReadU32LE(); }
    // n bytes into pOut; zeros when fewer are left.
    void ReadBytes(void* pOut, size_t n) {
        if (!Take(n)) {
            std::memset(pOut, 0, n);
            return;
        }
        std::memcpy(pOut, m_pCur, n);
        m_pCur += n;
    }
    void Skip(size_t n) {
        if (Take(n)) m_pCur += n;
    }

    size_t Left() const { return (size_t)(m_pEnd - m_pCur); }
    size_t Tell() const { return (size_t)(m_pCur - m_pBegin); }
    bool Ok() const { return !m_bOverrun; }

private:
    // Whether n more bytes are there; if not, the reader ends and stays failed.
    bool Take(size_t n) {
        if (Left() >= n) return true;
        m_bOverrun = true;
        m_pCur = m_pEnd;
        return false;
    }

    const BYTE* m_pBegin;
    const BYTE* m_pCur;
    const BYTE* m_pEnd;
    bool m_bOverrun = false;
};
