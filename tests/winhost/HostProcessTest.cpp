// The module in a host's process as other hosts run it: another module's
// unwinder loaded first, many loads and unloads, an unload with files still
// open, Main called from other compilers' frames (stack alignment, x87
// precision), from a COM single-threaded apartment and from several threads
// at once, with non-ASCII and long paths, and the system's error codes.
#include <float.h>
#include <objbase.h>
#include <psapi.h>

#include <cstring>

#include "WinHost.h"

namespace winhost {
namespace {

const wchar_t kPlugin[] = L"rvoplugin.dll";

struct Loaded {
    HMODULE h = nullptr;
    MainFn main = nullptr;
    Loaded() {
        h = LoadLibraryW(kPlugin);
        if (h) main = reinterpret_cast<MainFn>(reinterpret_cast<void*>(GetProcAddress(h, "Main")));
        CHECK(main != nullptr);
    }
    void Free() {
        if (h) CHECK(FreeLibrary(h));
        h = nullptr;
        main = nullptr;
    }
    ~Loaded() { Free(); }
};

// Frame k of a movie written by WriteMovie, read at time t: which frame it
// shows (-1: none of the first n).
int FrameShown(void** slot, HostMediaInfo& in, int n, int w, int h, double t, double d) {
    Frame dst = Destination(w, h);
    HostMediaInfo out = Record();
    in.pDst = &dst.fb;
    in.rcRegion = {kDstLeft, kDstTop, kDstLeft + w, kDstTop + h};
    in.dFieldDuration = d;
    in.dTime = t;
    in.nDeliveryMode = 2;
    if (Main()(7, &in, &out, slot) != 0) return -2;
    for (int k = 0; k < n; k++)
        if (WrongPixels(dst, k, w, h) == 0) return k;
    return -1;
}

// Writes and reads back a small movie in every writable mode at path + mode;
// the number of failures (0: every frame came back).
int RoundTripAll(const std::wstring& path, int w = 24, int h = 16, int n = 3) {
    int failures = 0;
    for (int compression : {0, 2, 1}) {
        const std::wstring file = path + std::to_wstring(compression) + L".rvo";
        if (!WriteMovie(file, compression, n, w, h)) {
            failures++;
            continue;
        }
        HostMediaInfo in = Record(file), out = Record();
        void* slot = nullptr;
        if (Main()(5, &in, &out, &slot) != 0) failures++;
        for (int k = 0; k < n && compression != 1; k++)
            if (FrameShown(&slot, in, n, w, h, 2.0 * k, 1.0) != k) failures++;
        Main()(10, &in, &out, &slot);
    }
    return failures;
}

// ---- another module's unwinder in the process ----------------------------

#if defined(__i386__)
// Reserves the address space's free ranges down to 1 MiB pieces, so that no
// block of a megabyte or more can be had; released when it goes.
struct AddressSpaceFull {
    std::vector<void*> blocks;
    AddressSpaceFull() {
        for (SIZE_T n = (SIZE_T)1 << 30; n >= ((SIZE_T)1 << 20); n /= 2)
            while (void* p = VirtualAlloc(nullptr, n, MEM_RESERVE, PAGE_NOACCESS)) blocks.push_back(p);
    }
    ~AddressSpaceFull() {
        for (void* p : blocks) VirtualFree(p, 0, MEM_RELEASE);
    }
};

// An image-list file whose one entry carries nExtra 16-byte extra items.
std::vector<uint8_t> ImageListWithExtra(uint32_t nExtra) {
    std::vector<uint8_t> v = {'Q', 'A', 'R', 'V', 'O', 'V', '1', '0'};
    for (uint32_t x : {160u, 1u, 1u, 2u, 8u, 8u, 0u, 0u, 0u, 0u, 0u, 0u}) U32(v, x);
    v.insert(v.end(), 104, 0);
    U32(v, 0);
    U32(v, 2);
    v.insert(v.end(), {0xFF, 0xFE, 0xFF, 1, 'a', 0});
    for (uint32_t x : {0u, 0u, 0u, 0u, 1u, 0u, 0u, 0u, 0u}) U32(v, x);
    v.insert(v.end(), 64, 0);
    U32(v, nExtra);
    v.insert(v.end(), (size_t)nExtra * 16, 0);
    v.insert(v.end(), 32, 0);
    return v;
}

#endif

// The last place of a 32-bit little-endian value in v (npos: nowhere).
size_t LastU32(const std::vector<uint8_t>& v, uint32_t x) {
    for (size_t i = v.size() >= 4 ? v.size() - 4 : 0; i-- > 0;)
        if (v[i] == (uint8_t)x && v[i + 1] == (uint8_t)(x >> 8) && v[i + 2] == (uint8_t)(x >> 16) &&
            v[i + 3] == (uint8_t)(x >> 24))
            return i;
    return std::string::npos;
}

// With Debian's mingw unwinder (libgcc_s_dw2-1.dll) loaded before the module,
// the exceptions a damaged index or a failed allocation raise inside the
// module still end in Main's failure result, and the process goes on.
void ForeignUnwinder() {
    HMODULE hForeign = LoadLibraryW(RVO_FOREIGN_UNWINDER);
    CHECK(hForeign != nullptr);
    Loaded dll;
    if (!dll.main) return;
    UseMain(dll.main);
    HostMediaInfo out = Record();
    void* slot = nullptr;

    // A blob marker in the index archive broken: the archive raises an error.
    const std::wstring jpeg = Scratch(L"foreign-index.rvo");
    CHECK(WriteMovie(jpeg, 1, 2, 32, 24));
    std::vector<uint8_t> bytes = ReadAll(jpeg);
    const size_t at = LastU32(bytes, 0x55AAA000u);
    CHECK(at != std::string::npos);
    if (at != std::string::npos) bytes[at] ^= 0x5A;
    CHECK(WriteAll(jpeg, bytes));
    HostMediaInfo in = Record(jpeg);
    in.dFieldDuration = 1.0;
    CHECK_EQ(Main()(4, &in, &out, nullptr), 1);
    CHECK_EQ(Main()(5, &in, &out, &slot), 1);
    Main()(10, &in, &out, &slot);

    // A packed record cut short and its size table pointing past the end.
    const std::wstring packed = Scratch(L"foreign-packed.rvo");
    CHECK(WriteMovie(packed, 2, 3, 16, 8));
    bytes = ReadAll(packed);
    bytes.resize(512 + 100);
    CHECK(WriteAll(packed, bytes));
    in = Record(packed);
    CHECK_EQ(Main()(5, &in, &out, &slot), 1);
    Main()(10, &in, &out, &slot);

#if defined(__i386__)
    // 16 MiB of extra items that cannot be allocated: a memory error. (The
    // 64-bit address space is too large to fill.)
    const std::wstring big = Scratch(L"foreign-alloc.rvo");
    CHECK(WriteAll(big, ImageListWithExtra(1u << 20)));
    in = Record(big);
    {
        AddressSpaceFull full;
        CHECK_EQ(Main()(5, &in, &out, &slot), 1);
        Main()(10, &in, &out, &slot);
    }
    CHECK_EQ(Main()(5, &in, &out, &slot), 0);
    Main()(10, &in, &out, &slot);
#endif
    UseMain(nullptr);
    std::printf("  the process lives on after the failures inside the module\n");
}

// ---- loading and unloading ------------------------------------------------

struct Footprint {
    DWORD firstFreeTls;
    DWORD handles;
    SIZE_T privateBytes;
};

Footprint Measure() {
    Footprint f{};
    f.firstFreeTls = TlsAlloc();
    TlsFree(f.firstFreeTls);
    // The lowest free handle value: a new handle takes it.
    HANDLE h = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    f.handles = (DWORD)(uintptr_t)h;
    CloseHandle(h);
    // Committed private memory, region by region.
    MEMORY_BASIC_INFORMATION mbi;
    for (const char* p = nullptr; VirtualQuery(p, &mbi, sizeof mbi) == sizeof mbi;
         p = static_cast<const char*>(mbi.BaseAddress) + mbi.RegionSize) {
        if (mbi.State == MEM_COMMIT && mbi.Type == MEM_PRIVATE) f.privateBytes += mbi.RegionSize;
        if (static_cast<const char*>(mbi.BaseAddress) + mbi.RegionSize < p) break;
    }
    return f;
}

// One cycle as a host that loads formats on demand runs it: load, ask, read a
// frame of each record mode, unload.
void Cycle(const std::wstring& raw, const std::wstring& packed) {
    Loaded dll;
    if (!dll.main) return;
    HostMediaInfo in = Record(), out = Record();
    void* slot = nullptr;
    dll.main(1, &in, &out, &slot);
    for (const std::wstring* path : {&raw, &packed}) {
        PutPath(in, *path);
        Frame dst = Destination(16, 8);
        in.pDst = &dst.fb;
        in.rcRegion = {kDstLeft, kDstTop, kDstLeft + 16, kDstTop + 8};
        in.dFieldDuration = 1.0;
        in.dTime = 2.0;
        in.nDeliveryMode = 2;
        if (dll.main(5, &in, &out, &slot) != 0 || dll.main(7, &in, &out, &slot) != 0 || WrongPixels(dst, 1, 16, 8))
            g_nFailures++;
        dll.main(10, &in, &out, &slot);
    }
}

// 500 cycles leave the TLS slots, handles and private memory where they were.
void UnloadCycles() {
    const std::wstring raw = Scratch(L"cycles0.rvo"), packed = Scratch(L"cycles2.rvo");
    {
        Loaded dll;
        UseMain(dll.main);
        CHECK(WriteMovie(raw, 0, 3, 16, 8));
        CHECK(WriteMovie(packed, 2, 3, 16, 8));
        UseMain(nullptr);
    }
    for (int i = 0; i < 20; i++) Cycle(raw, packed);
    const Footprint before = Measure();
    constexpr int kCycles = 500;
    for (int i = 0; i < kCycles && g_nFailures == 0; i++) Cycle(raw, packed);
    const Footprint after = Measure();
    std::printf("  %d cycles: first free TLS slot %lu -> %lu, next handle %#lx -> %#lx, private memory %lu -> %lu KiB\n",
                kCycles, before.firstFreeTls, after.firstFreeTls, before.handles, after.handles,
                (unsigned long)(before.privateBytes >> 10), (unsigned long)(after.privateBytes >> 10));
    CHECK_EQ(after.firstFreeTls, before.firstFreeTls);
    CHECK_EQ(after.handles, before.handles);
    // The C runtime's heap keeps what it once had; growth with the cycles would be a leak.
    CHECK(after.privateBytes <= before.privateBytes + (1u << 20));
}

// FreeLibrary with files still open: each is closed (no one is kept out), a
// file being written is finished with the frames it was given, and the
// module loaded again reads them all.
void UnloadOpen() {
    constexpr int w = 24, h = 16, n = 5, given = 3;
    std::wstring paths[3];
    {
        Loaded dll;
        if (!dll.main) return;
        void* slots[4] = {};
        for (int m = 0; m < 3; m++) {
            const int compression = m == 0 ? 0 : m == 1 ? 2
                                                        : 1;
            paths[m] = Scratch(L"unload-open" + std::to_wstring(compression) + L".rvo");
            HostMediaInfo in = Record(paths[m]), out = Record();
            in.nCompression = compression;
            in.rcRegion = {kSrcLeft, kSrcTop, kSrcLeft + w, kSrcTop + h};
            in.dFieldDuration = 1.0;
            in.dTotalDuration = 2.0 * (n - 1);
            CHECK_EQ(dll.main(6, &in, &out, &slots[m]), 0);
            for (int k = 0; k < given; k++) {
                Frame src = Source(k, w, h);
                in.pSrc = &src.fb;
                CHECK_EQ(dll.main(8, &in, &out, &slots[m]), 0);
            }
        }
        // A reader with its frames preloaded into locked pages.
        UseMain(dll.main);
        const std::wstring preloaded = Scratch(L"unload-preloaded.rvo");
        CHECK(WriteMovie(preloaded, 2, 2, w, h));
        UseMain(nullptr);
        HostMediaInfo in = Record(preloaded), out = Record();
        in.dFieldDuration = 1.0;
        CHECK_EQ(dll.main(9, &in, &out, &slots[3]), 0);
        dll.Free();
    }
    Loaded again;
    if (!again.main) return;
    UseMain(again.main);
    for (int m = 0; m < 3; m++) {
        HANDLE hAlone = CreateFileW(paths[m].c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0,
                                    nullptr);
        CHECK(hAlone != INVALID_HANDLE_VALUE);
        if (hAlone != INVALID_HANDLE_VALUE) CloseHandle(hAlone);
        HostMediaInfo in = Record(paths[m]), out = Record();
        void* slot = nullptr;
        in.dFieldDuration = 1.0;
        CHECK_EQ(Main()(4, &in, &out, &slot), 0);
        CHECK(out.dDuration == 2.0 * (given - 1));
        CHECK_EQ(Main()(5, &in, &out, &slot), 0);
        for (int k = 0; k < given && m < 2; k++) CHECK_EQ(FrameShown(&slot, in, given, w, h, 2.0 * k, 1.0), k);
        Main()(10, &in, &out, &slot);
    }
    UseMain(nullptr);
}

// ---- how other hosts call Main --------------------------------------------

#if defined(__i386__)
// Calls Main with the stack pointer misaligned by `skew` bytes at the call, as
// code built by compilers that keep only 4-byte alignment does.
struct SkewedCall {
    MainFn main;
    unsigned args[4];
    unsigned skew;
};

int CallSkewed(SkewedCall* c) {
    int r;
    asm volatile(
        "movl %%esp, %%esi\n\t"
        "andl $-16, %%esp\n\t"
        "subl 20(%%edi), %%esp\n\t"
        "pushl 16(%%edi)\n\t"
        "pushl 12(%%edi)\n\t"
        "pushl 8(%%edi)\n\t"
        "pushl 4(%%edi)\n\t"
        "call *(%%edi)\n\t"
        "movl %%esi, %%esp\n\t"
        : "=a"(r)
        : "D"(c)
        : "ecx", "edx", "esi", "memory", "cc");
    return r;
}

MainFn g_pfnReal = nullptr;
unsigned g_nSkew = 0;
int WINAPI SkewedMain(unsigned cmd, HostMediaInfo* in, HostMediaInfo* out, void** slot) {
    SkewedCall c{g_pfnReal, {cmd, (unsigned)(uintptr_t)in, (unsigned)(uintptr_t)out, (unsigned)(uintptr_t)slot}, g_nSkew};
    return CallSkewed(&c);
}

unsigned Precision() { return _controlfp(0, 0) & _MCW_PC; }
#endif

// Field-boundary times: frames the module shows must not depend on the x87
// unit's precision (the same rows as the Linux build's time rules).
struct TimeRow {
    double t, d;
    int frame;
};
const TimeRow kTimeRows[] = {
    {4.5, 1.0, 2},
    {4.502, 1.0, 2},
    {5.6, 1.0, 3},
    {4.5011, 1.0, 2},
    {0.998, 1.0, 0},
    {0.9995, 1.0, 0},
    {0.11002000000094996, 0.02, 2},
    {0.19002000000094996, 0.02, 4},
    {0.23002000000094996, 0.02, 5},
    {0.09004, 0.02, 2},
    {9.0, 1.0, 4},
    {11.0, 1.0, 5},
};

int TimeRowsWrong(const std::wstring& movie, int n, int w, int h) {
    HostMediaInfo in = Record(movie), out = Record();
    void* slot = nullptr;
    if (Main()(5, &in, &out, &slot) != 0) return 1000;
    int wrong = 0;
    for (const TimeRow& r : kTimeRows) {
        // Another frame first, so the row's frame is decoded again.
        FrameShown(&slot, in, n, w, h, 0.0, 1.0);
        FrameShown(&slot, in, n, w, h, 2.0 * (n - 1), 1.0);
        const int shown = FrameShown(&slot, in, n, w, h, r.t, r.d);
        if (shown != r.frame) {
            std::printf("  t=%.17g d=%.17g: frame %d, expected %d\n", r.t, r.d, shown, r.frame);
            wrong++;
        }
    }
    Main()(10, &in, &out, &slot);
    return wrong;
}

DWORD WINAPI ApartmentThread(void* p) {
    int* failures = static_cast<int*>(p);
    if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) (*failures)++;
    *failures += RoundTripAll(Scratch(L"sta-"));
    CoUninitialize();
    return 0;
}

struct Worker {
    int index;
    int failures;
};
DWORD WINAPI WorkerThread(void* p) {
    Worker* wk = static_cast<Worker*>(p);
    for (int round = 0; round < 3; round++)
        wk->failures += RoundTripAll(Scratch(L"thread" + std::to_wstring(wk->index) + L"-"), 32 + wk->index, 20);
    return 0;
}

void HostCalls() {
    Loaded dll;
    if (!dll.main) return;
    UseMain(dll.main);
    constexpr int w = 16, h = 8, n = 7;
    const std::wstring movie = Scratch(L"precision.rvo");
    CHECK(WriteMovie(movie, 2, n, w, h));

#if defined(__i386__)
    // Precision control at 53 bits (as MSVC's runtime sets it) and at 64 bits.
    for (unsigned pc : {(unsigned)_PC_53, (unsigned)_PC_64}) {
        _controlfp(pc, _MCW_PC);
        std::printf("  x87 precision %s\n", pc == _PC_53 ? "53 bits" : "64 bits");
        CHECK_EQ(TimeRowsWrong(movie, n, w, h), 0);
        CHECK_EQ(RoundTripAll(Scratch(L"precision-")), 0);
        CHECK_EQ(Precision(), pc);
    }
    _controlfp(_PC_53, _MCW_PC);
    g_pfnReal = dll.main;
    UseMain(SkewedMain);
    for (unsigned skew : {4u, 8u, 12u}) {
        std::printf("  stack misaligned by %u\n", skew);
        g_nSkew = skew;
        CHECK_EQ(RoundTripAll(Scratch(L"skew-")), 0);
        CHECK_EQ(TimeRowsWrong(movie, n, w, h), 0);
    }
    UseMain(dll.main);
    _controlfp(_PC_64, _MCW_PC);
#else
    CHECK_EQ(TimeRowsWrong(movie, n, w, h), 0);
#endif

    std::printf("  a COM single-threaded apartment\n");
    int staFailures = 0;
    HANDLE hSta = CreateThread(nullptr, 0, ApartmentThread, &staFailures, 0, nullptr);
    WaitForSingleObject(hSta, INFINITE);
    CloseHandle(hSta);
    CHECK_EQ(staFailures, 0);

    std::printf("  four threads at once\n");
    Worker workers[4];
    HANDLE threads[4];
    for (int i = 0; i < 4; i++) {
        workers[i] = {i, 0};
        threads[i] = CreateThread(nullptr, 0, WorkerThread, &workers[i], 0, nullptr);
    }
    WaitForMultipleObjects(4, threads, TRUE, INFINITE);
    for (int i = 0; i < 4; i++) {
        CloseHandle(threads[i]);
        CHECK_EQ(workers[i].failures, 0);
    }

    std::printf("  non-ASCII and long paths\n");
    CHECK_EQ(RoundTripAll(Scratch(L"f\u00efl\u00f6-\u65e5\u672c-\u0416\u00df-")), 0);
    std::wstring dir = Scratch(L"");
    while (dir.size() < 200) {
        dir += L"d\u00e9p\u00f4t-0123456789-abcdefghij\\";
        CreateDirectoryW(dir.c_str(), nullptr);
    }
    const std::wstring longPath = dir + std::wstring(246 - dir.size(), L'x') + L"-";
    CHECK_EQ(RoundTripAll(longPath), 0);
    UseMain(nullptr);
}

// ---- the system's error codes -----------------------------------------------

// What Main leaves in the thread's last error after a failed open or create.
DWORD ErrorAfter(unsigned cmd, const std::wstring& path, int compression) {
    HostMediaInfo in = Record(path), out = Record();
    void* slot = nullptr;
    in.nCompression = compression;
    in.rcRegion = {0, 0, 8, 8};
    in.dFieldDuration = 1.0;
    in.dTotalDuration = 2.0;
    SetLastError(0);
    const int rc = Main()(cmd, &in, &out, &slot);
    const DWORD dwError = GetLastError();
    Main()(10, &in, &out, &slot);
    return rc == 1 ? dwError : 0;
}

void ErrorCodes() {
    Loaded dll;
    if (!dll.main) return;
    UseMain(dll.main);
    const std::wstring missingDir = Scratch(L"no-such-folder\\movie.rvo");
    const std::wstring present = Scratch(L"errors.rvo");
    CHECK(WriteMovie(present, 0, 1, 8, 8));
    for (int compression : {0, 2, 1}) {
        CHECK_EQ(ErrorAfter(5, Scratch(L"no-such-movie.rvo"), 0), ERROR_FILE_NOT_FOUND);
        CHECK_EQ(ErrorAfter(5, missingDir, 0), ERROR_PATH_NOT_FOUND);
        CHECK_EQ(ErrorAfter(6, missingDir, compression), ERROR_PATH_NOT_FOUND);
        // Another program holds the file without sharing it.
        HANDLE hHeld = CreateFileW(present.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        CHECK_EQ(ErrorAfter(5, present, 0), ERROR_SHARING_VIOLATION);
        CHECK_EQ(ErrorAfter(6, present, compression), ERROR_SHARING_VIOLATION);
        CloseHandle(hHeld);
        // A folder where a file is asked for.
        CHECK_EQ(ErrorAfter(6, Scratch(L""), compression), ERROR_ACCESS_DENIED);
    }
    UseMain(nullptr);
}

}   // namespace

const HostCase kHostProcessCases[] = {
    {L"foreign-unwinder", ForeignUnwinder},
    {L"unload-cycles", UnloadCycles},
    {L"unload-open", UnloadOpen},
    {L"host-calls", HostCalls},
    {L"error-codes", ErrorCodes},
};
const int kHostProcessCaseCount = sizeof kHostProcessCases / sizeof kHostProcessCases[0];

}   // namespace winhost
