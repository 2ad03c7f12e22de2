// Win32-style scalar types, result codes and small records shared by every folder.
#pragma once

#include <cstddef>
#include <cstdint>

typedef uint8_t BYTE;
typedef uint16_t WORD;
typedef uint32_t DWORD;
typedef int32_t LONG;
typedef uint32_t UINT;
typedef int32_t BOOL;
typedef int64_t LONGLONG;
typedef uint64_t ULONGLONG;
typedef char16_t WCHAR;   // UTF-16 code unit, as the host's strings use
typedef void* HANDLE;
typedef void* HGLOBAL;

#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

#if defined(__i386__)
#define WINAPI __attribute__((stdcall))
#else
#define WINAPI
#endif

// The module's exports: visible symbols of the ELF library; on Windows the
// module definition file (plugin/rvoplugin.def.in) names them.
#if defined(_WIN32)
#define RVO_EXPORT
#else
#define RVO_EXPORT __attribute__((visibility("default")))
#endif

#define INVALID_HANDLE_VALUE ((HANDLE)(intptr_t)-1)

struct SIZE {
    LONG cx;
    LONG cy;
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

// Last-error values the module reports (the Win32 numbers).
enum : DWORD {
    ERROR_SUCCESS = 0,
    ERROR_INVALID_FUNCTION = 1,
    ERROR_FILE_NOT_FOUND = 2,
    ERROR_PATH_NOT_FOUND = 3,   // a folder on the way does not exist
    ERROR_ACCESS_DENIED = 5,
    ERROR_INVALID_HANDLE = 6,
    ERROR_NOT_ENOUGH_MEMORY = 8,
    ERROR_INVALID_DATA = 13,
    ERROR_OUTOFMEMORY = 14,
    ERROR_CRC = 23,   // the device could not read the data (EIO on Linux)
    ERROR_WRITE_FAULT = 29,
    ERROR_READ_FAULT = 30,
    ERROR_SHARING_VIOLATION = 32,   // another handle's share mode keeps this one out
    ERROR_HANDLE_EOF = 38,
    ERROR_NOT_SUPPORTED = 50,
    ERROR_NOT_LOCKED = 158,
    ERROR_INVALID_PARAMETER = 87,
    ERROR_DISK_FULL = 112,
    ERROR_FILE_TOO_LARGE = 223,
    ERROR_NEGATIVE_SEEK = 131,
    ERROR_BUSY = 170,
    ERROR_ARITHMETIC_OVERFLOW = 534,
    ERROR_BAD_FORMAT = 11,
    ERROR_INVALID_FORM_SIZE = 1903,
    ERROR_WORKING_SET_QUOTA = 1453,   // pages cannot be locked (RLIMIT_MEMLOCK)
    ERROR_COMMITMENT_LIMIT = 1455,    // the free address space is down to the host's reserve
    ERROR_FILE_CORRUPT = 1392,        // given as far as it decodes: every stored copy is damaged
};

// COM-style results the engine stores as last-error values.
#define E_POINTER ((DWORD)0x80004003u)
#define E_INVALIDARG ((DWORD)0x80070057u)
#define E_OUTOFMEMORY ((DWORD)0x8007000Eu)

inline DWORD RoundUp512(DWORD x) { return (x + 511u) & ~511u; }
inline ULONGLONG RoundUp512_64(ULONGLONG x) { return (x + 511u) & ~(ULONGLONG)511u; }
inline DWORD RoundUp16(DWORD x) { return (x + 15u) & ~15u; }
