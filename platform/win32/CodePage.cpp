// The ANSI code page of the Windows build: the system's (CP_ACP).
#include <climits>

#include "platform/CString.h"
#include "platform/win32/Win32Api.h"

std::u16string FromAnsi(const char* p, size_t n) {
    std::u16string out;
    // Names are far shorter; a longer run is converted in pieces.
    while (n > 0) {
        const int nPart = n > (size_t)(INT_MAX / 2) ? INT_MAX / 2 : (int)n;
        const int nWide = w32::MultiByteToWideChar(w32::kCpAcp, 0, p, nPart, nullptr, 0);
        if (nWide <= 0) break;
        const size_t nAt = out.size();
        out.resize(nAt + (size_t)nWide);
        w32::MultiByteToWideChar(w32::kCpAcp, 0, p, nPart, reinterpret_cast<wchar_t*>(&out[nAt]), nWide);
        p += nPart;
        n -= (size_t)nPart;
    }
    return out;
}
