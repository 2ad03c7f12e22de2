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
// Slots and handles: the threading runtime allocates a TLS slot per load, and
// an event and a thread handle for the loading thread, and gives none of them
// back; a host that loads and unloads the module runs out of slots (and leaks
// handles). Every TLS slot, event, semaphore and duplicated handle made from
// inside the DLL is recorded (the linker sends the DLL's imports of those
// functions, and of TlsFree and CloseHandle, here: see CMakeLists.txt), and
// what is still held is given back last, after the runtimes' own unload steps,
// with the C++ runtime's emergency exception pool. Before those steps the
// thread that unloads the library leaves it, so that the runtimes free what
// they keep for that thread. Only when the library is unloaded: at process
// exit the process takes everything with it.
#include <cstdint>
#include <cstring>

namespace {

constexpr unsigned long kProcessDetach = 0, kProcessAttach = 1;
constexpr unsigned long kTlsOutOfIndexes = 0xFFFFFFFFu;
constexpr unsigned long kDuplicateCloseSource = 1;
void* const kCurrentProcess = reinterpret_cast<void*>((intptr_t)-1);

#define RVO_STDCALL __attribute__((stdcall))
typedef unsigned long(RVO_STDCALL* PFN_TLSALLOC)();
typedef int(RVO_STDCALL* PFN_TLSFREE)(unsigned long);
typedef void*(RVO_STDCALL* PFN_CREATEEVENTA)(void*, int, int, const char*);
typedef void*(RVO_STDCALL* PFN_CREATESEMAPHOREA)(void*, long, long, const char*);
typedef int(RVO_STDCALL* PFN_DUPLICATEHANDLE)(void*, void*, void*, void**, unsigned long, int, unsigned long);
typedef int(RVO_STDCALL* PFN_CLOSEHANDLE)(void*);

// A spin lock of its own: slots and handles are made while the threading
// runtime starts, before any of its locks (or the C++ runtime's guards) work.
bool g_bHeldBusy = false;
void LockHeld() {
    while (__atomic_test_and_set(&g_bHeldBusy, __ATOMIC_ACQUIRE)) {
    }
}
void UnlockHeld() { __atomic_clear(&g_bHeldBusy, __ATOMIC_RELEASE); }

// What the DLL's code holds: a few TLS slots, and the runtimes' synchronisation
// objects and thread handles (the module's own files are closed by
// CloseOpenHandles). One past the table is not recorded, so never closed twice.
// Zero-initialised data, no constructor: the runtimes make their first objects
// before the C++ start-up would run one.
template <class T, int N>
struct HeldSet {
    T items[N];
    int n;
    void Add(T x) {
        LockHeld();
        if (n < N) items[n++] = x;
        UnlockHeld();
    }
    bool Remove(T x) {
        LockHeld();
        bool bFound = false;
        for (int i = 0; i < n; i++)
            if (items[i] == x) {
                items[i] = items[--n];
                bFound = true;
                break;
            }
        UnlockHeld();
        return bFound;
    }
};
HeldSet<unsigned long, 16> g_slots;
HeldSet<void*, 256> g_handles;

}   // namespace

// The import pointers' symbols as the linker's --wrap names them (on i686 the
// symbol's leading underscore stays in front of the prefix).
#if defined(__i386__)
#define RVO_WRAPPED(prefix, name, args) "_" prefix "_imp__" #name "@" #args
#else
#define RVO_WRAPPED(prefix, name, args) prefix "__imp_" #name
#endif

extern "C" {
extern PFN_TLSALLOC g_pfnRealTlsAlloc asm(RVO_WRAPPED("__real_", TlsAlloc, 0));
extern PFN_TLSFREE g_pfnRealTlsFree asm(RVO_WRAPPED("__real_", TlsFree, 4));
extern PFN_CREATEEVENTA g_pfnRealCreateEventA asm(RVO_WRAPPED("__real_", CreateEventA, 16));
extern PFN_CREATESEMAPHOREA g_pfnRealCreateSemaphoreA asm(RVO_WRAPPED("__real_", CreateSemaphoreA, 16));
extern PFN_DUPLICATEHANDLE g_pfnRealDuplicateHandle asm(RVO_WRAPPED("__real_", DuplicateHandle, 28));
extern PFN_CLOSEHANDLE g_pfnRealCloseHandle asm(RVO_WRAPPED("__real_", CloseHandle, 4));
}

namespace {

unsigned long RVO_STDCALL OwnTlsAlloc() {
    const unsigned long dwSlot = g_pfnRealTlsAlloc();
    if (dwSlot != kTlsOutOfIndexes) g_slots.Add(dwSlot);
    return dwSlot;
}

int RVO_STDCALL OwnTlsFree(unsigned long dwSlot) {
    g_slots.Remove(dwSlot);
    return g_pfnRealTlsFree(dwSlot);
}

void* RVO_STDCALL OwnCreateEventA(void* pSecurity, int bManual, int bInitial, const char* pszName) {
    void* h = g_pfnRealCreateEventA(pSecurity, bManual, bInitial, pszName);
    if (h) g_handles.Add(h);
    return h;
}

void* RVO_STDCALL OwnCreateSemaphoreA(void* pSecurity, long nInitial, long nMax, const char* pszName) {
    void* h = g_pfnRealCreateSemaphoreA(pSecurity, nInitial, nMax, pszName);
    if (h) g_handles.Add(h);
    return h;
}

int RVO_STDCALL OwnDuplicateHandle(void* hFromProcess, void* hFrom, void* hToProcess, void** phTo,
                                   unsigned long dwAccess, int bInherit, unsigned long dwOptions) {
    const int bOk = g_pfnRealDuplicateHandle(hFromProcess, hFrom, hToProcess, phTo, dwAccess, bInherit, dwOptions);
    if ((dwOptions & kDuplicateCloseSource) && hFromProcess == kCurrentProcess) g_handles.Remove(hFrom);
    if (bOk && phTo && hToProcess == kCurrentProcess) g_handles.Add(*phTo);
    return bOk;
}

int RVO_STDCALL OwnCloseHandle(void* h) {
    g_handles.Remove(h);
    return g_pfnRealCloseHandle(h);
}

// After the runtimes' own unload steps: what they still hold goes back.
void ReleaseHeld() {
    for (int i = 0; i < g_slots.n; i++) g_pfnRealTlsFree(g_slots.items[i]);
    g_slots.n = 0;
    for (int i = 0; i < g_handles.n; i++) g_pfnRealCloseHandle(g_handles.items[i]);
    g_handles.n = 0;
}

typedef void(RVO_STDCALL* PFN_TLS_CALLBACK)(void*, unsigned long, void*);

}   // namespace

// The TLS callbacks of the image lie between these two (the runtime's
// start-up object places them in .CRT$XLA and .CRT$XLZ).
extern "C" PFN_TLS_CALLBACK __xl_a, __xl_z;

namespace {

constexpr unsigned long kThreadDetach = 3;

// The thread that unloads the library leaves it first, as if it ended: the
// runtimes' thread-detach steps free what they keep for it (the threading
// runtime's record, event and thread handle, the thread's emulated TLS),
// which their process-detach steps do not.
void RVO_STDCALL UnloadingThreadLeaves(void* hModule, unsigned long dwReason, void* pReserved) {
    if (dwReason != kProcessDetach || pReserved) return;
    for (PFN_TLS_CALLBACK* p = &__xl_a + 1; p < &__xl_z; p++)
        if (*p && *p != UnloadingThreadLeaves) (*p)(hModule, kThreadDetach, nullptr);
}

// Before the runtimes' own callbacks (.CRT$XLC onwards).
__attribute__((section(".CRT$XLB"), used)) const PFN_TLS_CALLBACK g_pfnUnloadingThreadLeaves = UnloadingThreadLeaves;

}   // namespace

extern "C" {
// The import pointers the DLL's code calls through.
PFN_TLSALLOC g_pfnWrapTlsAlloc asm(RVO_WRAPPED("__wrap_", TlsAlloc, 0)) = OwnTlsAlloc;
PFN_TLSFREE g_pfnWrapTlsFree asm(RVO_WRAPPED("__wrap_", TlsFree, 4)) = OwnTlsFree;
PFN_CREATEEVENTA g_pfnWrapCreateEventA asm(RVO_WRAPPED("__wrap_", CreateEventA, 16)) = OwnCreateEventA;
PFN_CREATESEMAPHOREA g_pfnWrapCreateSemaphoreA asm(RVO_WRAPPED("__wrap_", CreateSemaphoreA, 16)) =
    OwnCreateSemaphoreA;
PFN_DUPLICATEHANDLE g_pfnWrapDuplicateHandle asm(RVO_WRAPPED("__wrap_", DuplicateHandle, 28)) = OwnDuplicateHandle;
PFN_CLOSEHANDLE g_pfnWrapCloseHandle asm(RVO_WRAPPED("__wrap_", CloseHandle, 4)) = OwnCloseHandle;
}

#if defined(__i386__) && !defined(__SEH__) && !defined(__USING_SJLJ_EXCEPTIONS__)

extern "C" {
void __register_frame_info(const void* pBegin, void* pObject);
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

}   // namespace

#else
namespace {
void RegisterOwnFrames() {}
void DeregisterOwnFrames() {}
}   // namespace
#endif

namespace __gnu_cxx {
// The C++ runtime's emergency exception pool, a heap block made at start-up.
void __freeres();
}   // namespace __gnu_cxx

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
        ReleaseHeld();
        __gnu_cxx::__freeres();
    }
    return bOk;
}
