// The ANSI code page of the Linux build: Windows-1252, the code page of the
// systems the archive's 8-bit names come from.
#include "platform/CString.h"

std::u16string FromAnsi(const char* p, size_t n) {
    // Windows-1252 differs from Latin-1 only in 0x80-0x9F.
    static const char16_t k1252[32] = {
        0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
        0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD, 0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
        0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};
    std::u16string out;
    out.reserve(n);
    for (size_t i = 0; i < n; i++) {
        unsigned char b = (unsigned char)p[i];
        out.push_back(b >= 0x80 && b < 0xA0 ? k1252[b - 0x80] : (char16_t)b);
    }
    return out;
}
