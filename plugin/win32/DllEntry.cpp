// The DLL's entry point, around the C runtime's own (DllMainCRTStartup): what
// the statically linked runtimes cannot do for a library that a host loads,
// unloads and loads again, in a process shared with other modules.
//
// Unwinding (i686): the runtime's start-up object registers the DLL's DWARF-2
// frame tables with whichever libgcc it finds in the process, and a foreign
// libgcc_s_dw2-1.dll there takes them; exceptions thrown inside the DLL are
// then raised by our own, static unwinder, which knows no frames and ends the
// process. The tables are registered with our unwinder here as well whenever it
// does not know them.
//
// TLS slots: the threading runtime allocates a slot per load and never frees
// it; a host that loads and unloads the module runs out of slots. Likewise the
// C++ runtime's emergency exception pool is given back. Every slot
// allocated from inside the DLL is recorded (the linker sends the DLL's
// TlsAlloc and TlsFree imports here, see CMakeLists.txt) and those still held
// are freed last, after the runtime's own unload steps, when the library is
// unloaded (not at process exit, when the process goes anyway).
#include <cstdint>
#include <cstring>

namespace {

constexpr unsigned long kProcessDetach = 0, kProcessAttach = 1;
constexpr unsigned long kTlsOutOfIndexes = 0xFFFFFFFFu;

typedef unsigned long(__attribute__((stdcall)) * PFN_TLSALLOC)();
typedef int(__attribute__((stdcall)) * PFN_TLSFREE)(unsigned long);

// A spin lock of its own: the slot is allocated while the threading runtime
// starts, before any of its locks (or the C++ runtime's guards) can be used.
bool g_bSlotsBusy = false;
void LockSlots() {
    while (__atomic_test_and_set(&g_bSlotsBusy, __ATOMIC_ACQUIRE)) {
    }
}
void UnlockSlots() { __atomic_clear(&g_bSlotsBusy, __ATOMIC_RELEASE); }

// Slots the DLL's code holds; a handful at most (the threading runtime's one).
constexpr int kMaxSlots = 16;
unsigned long g_adwSlots[kMaxSlots];
int g_nSlots = 0;

}  // namespace

// The import pointers' symbols as the linker's --wrap names them (on i686 the
// symbol's leading underscore stays in front of the prefix).
#if defined(__i386__)
#define RVO_WRAPPED(prefix, name, args) "_" prefix "_imp__" #name "@" #args
#else
#define RVO_WRAPPED(prefix, name, args) prefix "__imp_" #name
#endif

extern "C" {
extern PFN_TLSALLOC g_pfnRealTlsAlloc asm(RVO_WRAPPED("__real_", TlsAlloc, 0));
extern PFN_TLSFREE  g_pfnRealTlsFree asm(RVO_WRAPPED("__real_", TlsFree, 4));
}

namespace {

unsigned long __attribute__((stdcall)) OwnTlsAlloc() {
    const unsigned long dwSlot = g_pfnRealTlsAlloc();
    if (dwSlot == kTlsOutOfIndexes) return dwSlot;
    LockSlots();
    if (g_nSlots < kMaxSlots) g_adwSlots[g_nSlots++] = dwSlot;
    UnlockSlots();
    return dwSlot;
}

int __attribute__((stdcall)) OwnTlsFree(unsigned long dwSlot) {
    LockSlots();
    for (int i = 0; i < g_nSlots; i++)
        if (g_adwSlots[i] == dwSlot) {
            g_adwSlots[i] = g_adwSlots[--g_nSlots];
            break;
        }
    UnlockSlots();
    return g_pfnRealTlsFree(dwSlot);
}

void FreeHeldTlsSlots() {
    for (int i = 0; i < g_nSlots; i++) g_pfnRealTlsFree(g_adwSlots[i]);
    g_nSlots = 0;
}

}  // namespace

extern "C" {
// The import pointers the DLL's code calls through.
PFN_TLSALLOC g_pfnWrapTlsAlloc asm(RVO_WRAPPED("__wrap_", TlsAlloc, 0)) = OwnTlsAlloc;
PFN_TLSFREE  g_pfnWrapTlsFree asm(RVO_WRAPPED("__wrap_", TlsFree, 4)) = OwnTlsFree;
}

#if defined(__i386__) && !defined(__SEH__) && !defined(__USING_SJLJ_EXCEPTIONS__)

extern "C" {
void  __register_frame_info(const void* pBegin, void* pObject);
void* __deregister_frame_info(const void* pBegin);
const void* _Unwind_Find_FDE(void* pc, void* pBases);
extern const unsigned char __ImageBase[];
}

namespace {

// The unwinder's record of one registered table; larger than libgcc's.
alignas(16) void* g_apFrameObject[16];
const void* g_pFrames = nullptr;

uint32_t Le32(const unsigned char* p) { return p[0] | p[1] << 8 | p[2] << 16 | (uint32_t)p[3] << 24; }
uint16_t Le16(const unsigned char* p) { return (uint16_t)(p[0] | p[1] << 8); }

// Whether n bytes at p are frame tables as the unwinder reads them: records
// whose lengths lead to the zero terminator, the first a CIE (id 0; the
// .debug_frame tables' CIEs have id 0xFFFFFFFF).
bool FrameTables(const unsigned char* p, uint32_t n) {
    if (n < 8 || Le32(p) == 0 || Le32(p + 4) != 0) return false;
    for (uint32_t at = 0; n - at >= 4;) {
        const uint32_t nRecord = Le32(p + at);
        if (nRecord == 0) return true;
        if (nRecord == 0xFFFFFFFFu || nRecord > n - at - 4) return false;
        at += 4 + nRecord;
    }
    return false;
}

// The loaded .eh_frame section of this image. Its name is in the section table
// (cut to eight bytes) or, in images that keep long names, in the string
// table, which is not loaded: a long-named section is taken by its contents.
const void* FrameSection() {
    const unsigned char* base = __ImageBase;
    const unsigned char* nt = base + Le32(base + 0x3C);
    if (std::memcmp(nt, "PE\0\0", 4) != 0) return nullptr;
    const unsigned nSections = Le16(nt + 6);
    const unsigned char* s = nt + 24 + Le16(nt + 20);
    for (unsigned i = 0; i < nSections; i++, s += 40) {
        if (std::memcmp(s, ".eh_fram", 8) != 0 && s[0] != '/') continue;
        const unsigned char* p = base + Le32(s + 12);
        if (FrameTables(p, Le32(s + 8))) return p;
    }
    return nullptr;
}

void RegisterOwnFrames() {
    void* apBases[3];
    if (_Unwind_Find_FDE(reinterpret_cast<void*>(&RegisterOwnFrames), apBases)) return;
    g_pFrames = FrameSection();
    if (g_pFrames) __register_frame_info(g_pFrames, g_apFrameObject);
}

void DeregisterOwnFrames() {
    if (g_pFrames) __deregister_frame_info(g_pFrames);
    g_pFrames = nullptr;
}

}  // namespace

#else
namespace {
void RegisterOwnFrames() {}
void DeregisterOwnFrames() {}
}  // namespace
#endif

namespace __gnu_cxx {
// The C++ runtime's emergency exception pool, a heap block made at start-up.
void __freeres();
}

extern "C" int __attribute__((stdcall)) DllMainCRTStartup(void* hModule, unsigned long dwReason, void* pReserved);

extern "C" int __attribute__((stdcall, force_align_arg_pointer))
RvoDllEntry(void* hModule, unsigned long dwReason, void* pReserved) {
    // The runtime's start-up registers the tables (with whichever unwinder it
    // finds); ours learns them before the host can call Main.
    if (dwReason == kProcessAttach) {
        const int bOk = DllMainCRTStartup(hModule, dwReason, pReserved);
        if (bOk) RegisterOwnFrames();
        return bOk;
    }
    const int bOk = DllMainCRTStartup(hModule, dwReason, pReserved);
    if (dwReason == kProcessDetach && !pReserved) {
        DeregisterOwnFrames();
        FreeHeldTlsSlots();
        __gnu_cxx::__freeres();
    }
    return bOk;
}
