// The MFC exception family the archive and the arrays raise. They never leave
// the module: the container turns them into failures at its boundary.
#pragma once

#include "platform/Types.h"

class CException {
public:
    virtual ~CException() = default;
};

class CArchiveException : public CException {
public:
    enum Cause {
        none = 0,
        genericException = 1,
        readOnly = 2,
        endOfFile = 3,
        writeOnly = 4,
        badIndex = 5,
        badClass = 6,
        badSchema = 7
    };
    explicit CArchiveException(int cause) : m_cause(cause) {}
    int m_cause;
};

class CInvalidArgException : public CException {};
class CMemoryException : public CException {};

class COleException : public CException {
public:
    explicit COleException(DWORD sc) : m_sc(sc) {}
    DWORD m_sc;
};

[[noreturn]] void AfxThrowArchiveException(int cause);
[[noreturn]] void AfxThrowInvalidArgException();
[[noreturn]] void AfxThrowMemoryException();
[[noreturn]] void AfxThrowOleException(DWORD sc);
