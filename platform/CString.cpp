// UTF-16 string helpers and conversions.
#include "platform/CString.h"

#include <cstdarg>
#include <cstdio>

void CString::Format(const char* pszFormat, ...) {
    char buf[256];
    va_list ap;
    va_start(ap, pszFormat);
    int n = std::vsnprintf(buf, sizeof buf, pszFormat, ap);
    va_end(ap);
    if (n < 0) n = 0;
    if (n >= (int)sizeof buf) n = (int)sizeof buf - 1;
    m_str.assign(buf, buf + n);
}

CString& CString::MakeUpper() {
    for (auto& c : m_str)
        if (c >= u'a' && c <= u'z') c = (WCHAR)(c - u'a' + u'A');
    return *this;
}

int CString::ReverseFindSeparator() const {
    for (size_t i = m_str.size(); i-- > 0;)
        if (m_str[i] == u'/' || m_str[i] == u'\\') return (int)i;
    return -1;
}

std::string ToUtf8(const std::u16string& s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); i++) {
        uint32_t c = s[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00);
            i++;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        if (c < 0x80) {
            out.push_back((char)c);
        } else if (c < 0x800) {
            out.push_back((char)(0xC0 | (c >> 6)));
            out.push_back((char)(0x80 | (c & 0x3F)));
        } else if (c < 0x10000) {
            out.push_back((char)(0xE0 | (c >> 12)));
            out.push_back((char)(0x80 | ((c >> 6) & 0x3F)));
            out.push_back((char)(0x80 | (c & 0x3F)));
        } else {
            out.push_back((char)(0xF0 | (c >> 18)));
            out.push_back((char)(0x80 | ((c >> 12) & 0x3F)));
            out.push_back((char)(0x80 | ((c >> 6) & 0x3F)));
            out.push_back((char)(0x80 | (c & 0x3F)));
        }
    }
    return out;
}

std::string ToUtf8(const WCHAR* psz) { return ToUtf8(std::u16string(psz ? psz : u"")); }

std::u16string FromUtf8(const std::string& s) {
    // Smallest code point each sequence length may carry; shorter forms are overlong.
    static const uint32_t kMinForLength[5] = {0, 0, 0x80, 0x800, 0x10000};
    std::u16string out;
    size_t i = 0;
    while (i < s.size()) {
        unsigned char b = (unsigned char)s[i];
        uint32_t c;
        size_t n;
        if (b < 0x80) {
            c = b;
            n = 1;
        } else if ((b & 0xE0) == 0xC0) {
            c = b & 0x1F;
            n = 2;
        } else if ((b & 0xF0) == 0xE0) {
            c = b & 0x0F;
            n = 3;
        } else if ((b & 0xF8) == 0xF0) {
            c = b & 0x07;
            n = 4;
        } else {
            out.push_back(0xFFFD);
            i++;
            continue;
        }
        // A cut or broken sequence costs its lead byte only; what follows is decoded on its own.
        bool ok = i + n <= s.size();
        for (size_t k = 1; ok && k < n; k++) {
            unsigned char t = (unsigned char)s[i + k];
            if ((t & 0xC0) != 0x80) ok = false;
            c = (c << 6) | (t & 0x3F);
        }
        if (!ok) {
            out.push_back(0xFFFD);
            i++;
            continue;
        }
        i += n;
        // Overlong forms, encoded surrogates and values past U+10FFFF are not text.
        if (c < kMinForLength[n] || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) {
            out.push_back(0xFFFD);
        } else if (c >= 0x10000) {
            c -= 0x10000;
            out.push_back((WCHAR)(0xD800 + (c >> 10)));
            out.push_back((WCHAR)(0xDC00 + (c & 0x3FF)));
        } else {
            out.push_back((WCHAR)c);
        }
    }
    return out;
}
