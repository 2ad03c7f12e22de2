// A UTF-16 string in the manner of MFC's CString, over std::u16string.
#pragma once

#include <string>

#include "platform/Types.h"

class CString {
public:
    CString() = default;
    CString(const WCHAR* psz) : m_str(psz ? psz : u"") {}
    CString(const WCHAR* p, size_t n) : m_str(p, n) {}
    CString(std::u16string s) : m_str(std::move(s)) {}

    int GetLength() const { return (int)m_str.size(); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    const WCHAR* GetString() const { return m_str.c_str(); }
    operator const WCHAR*() const { return m_str.c_str(); }
    const std::u16string& Str() const { return m_str; }

    // printf-style formatting; the pattern is ASCII ("No.%d").
    void Format(const char* pszFormat, ...) __attribute__((format(printf, 2, 3)));
    // Upper-cases ASCII letters in place (the extension test compares Latin names).
    CString& MakeUpper();

    // Position of the last '/' or '\\', or -1.
    int ReverseFindSeparator() const;
    CString Left(int n) const { return CString(m_str.substr(0, (size_t)(n < 0 ? 0 : n))); }
    CString Mid(int from) const {
        return from >= GetLength() ? CString() : CString(m_str.substr((size_t)(from < 0 ? 0 : from)));
    }

    bool operator==(const CString& o) const { return m_str == o.m_str; }
    bool operator!=(const CString& o) const { return m_str != o.m_str; }
    CString operator+(const CString& o) const { return CString(m_str + o.m_str); }

private:
    std::u16string m_str;
};

// UTF-16 to UTF-8 for the C library (paths, messages); lone surrogates become U+FFFD.
std::string ToUtf8(const WCHAR* psz);
std::string ToUtf8(const std::u16string& s);
// UTF-8 to UTF-16; invalid bytes become U+FFFD.
std::u16string FromUtf8(const std::string& s);
// Bytes in the ANSI code page to UTF-16: the system's on Windows
// (MultiByteToWideChar with CP_ACP), Windows-1252 elsewhere.
std::u16string FromAnsi(const char* p, size_t n);
