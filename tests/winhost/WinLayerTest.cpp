// The module's Windows platform layer driven directly (linked in, not through
// the DLL), through its test hooks: records of modes 4 and 5 on volumes of
// 4096-byte sectors, the working set a page lock grows and gives back, a
// writer crashed at every write and byte of a small movie in each mode, and
// the I/O-error sweep over the Windows file calls (tests/support/IoErrorSweep.h).
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "platform/Memory.h"
#include "platform/RawFile.h"
#include "tests/support/CrashSweep.h"
#include "tests/support/IoErrorSweep.h"
#include "tests/support/Movies.h"

namespace {

int g_nFailures = 0;

void Check(bool bOk, const char* what) {
    if (bOk) return;
    std::printf("failed: %s\n", what);
    g_nFailures++;
}

// The same bytes with 512- and 4096-byte sectors: the 4096 case reads through
// the writer's own handle for every record that starts between sectors.
void Sectors() {
    constexpr int w = 40, h = 30;
    std::vector<std::vector<uint32_t>> frames(3, std::vector<uint32_t>((size_t)w * h));
    for (size_t k = 0; k < frames.size(); k++)
        for (size_t i = 0; i < frames[k].size(); i++) frames[k][i] = (uint32_t)(i * 2654435761u + k * 977u) | 0xFF000000u;
    for (LONG nMode : {4, 5}) {
        const std::string path = "winhost-scratch/sectors" + std::to_string(nMode) + ".rvo";
        const std::vector<uint8_t> with512 = rvotest::SectorSizedMovie(path, nMode, 512, w, h, frames);
        const std::vector<uint8_t> with4096 = rvotest::SectorSizedMovie(path, nMode, 4096, w, h, frames);
        std::printf("  mode %ld: %zu bytes with 512-byte sectors, %zu with 4096\n", (long)nMode, with512.size(),
                    with4096.size());
        Check(!with512.empty(), "the movie is written and read back with 512-byte sectors");
        Check(with4096 == with512, "4096-byte sectors give the same bytes and frames");
    }
}

// Every lock that meets a full working set raises the limits once; every
// unlock gives that back, also when four threads lock and unlock at once.
void WorkingSet() {
    SetLockQuotaOverride(true);
    const WorkingSetCalls before = GetWorkingSetCalls();
    auto lockUnlock = [](int nBlocks) {
        std::vector<void*> blocks;
        for (int i = 0; i < nBlocks; i++) {
            void* p = AllocAligned(64 * 1024);
            if (VirtualLock(p, 64 * 1024)) blocks.push_back(p);
            else FreeAligned(p);
        }
        for (void* p : blocks) {
            VirtualUnlock(p, 64 * 1024);
            FreeAligned(p);
        }
        return (int)blocks.size();
    };
    Check(lockUnlock(3) == 3, "three blocks locked");
    const WorkingSetCalls one = GetWorkingSetCalls();
    Check(one.nGrows - before.nGrows == 3 && one.nShrinks - before.nShrinks == 3, "three growths, three give-backs");
    Check(one.nAdded == before.nAdded, "nothing added once the blocks are unlocked");
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) threads.emplace_back([&] { lockUnlock(25); });
    for (std::thread& t : threads) t.join();
    const WorkingSetCalls all = GetWorkingSetCalls();
    std::printf("  %u growths, %u give-backs, %zu bytes added at the end\n", all.nGrows - before.nGrows,
                all.nShrinks - before.nShrinks, all.nAdded - before.nAdded);
    Check(all.nGrows - one.nGrows == 100 && all.nShrinks - one.nShrinks == 100, "four threads: 100 of each");
    Check(all.nAdded == before.nAdded, "four threads: nothing added at the end");
    SetLockQuotaOverride(false);
}

// The crash sweep of tests/plugin's Recover test over the Windows file calls:
// recovery gives back exactly the frames whose bytes were all written.
void CrashPoints() {
    for (LONG nMode : {3, 4, 5}) {
        const int w = nMode == 3 ? 24 : 8, h = w;
        rvotest::CrashMovie m;
        bool bHooked = false;
        const bool bMade = rvotest::MakeCrashMovie(nMode, w, h, 2, "winhost-scratch/crash" + std::to_string(nMode) + ".rvo",
                                                   &m, &bHooked);
        Check(bHooked, "the Windows file layer has the crash point hook");
        Check(bMade, "the crash sweep's movie is made");
        if (!bHooked || !bMade) continue;
        for (bool bBytes : {false, true}) {
            rvotest::CrashCounts c;
            std::string strFailure;
            // Every write; every 13th byte (an odd step, so the points fall at every
            // offset within a sector in turn), and the last byte: each point costs a
            // file written and recovered, which takes long under Wine.
            const ULONGLONG nLast = bBytes ? m.nBytes : m.nWrites, nStep = bBytes ? 13 : 1;
            for (ULONGLONG k = 0; k <= nLast && strFailure.empty(); k = k < nLast && k + nStep > nLast ? nLast : k + nStep) {
                strFailure = rvotest::CheckCrashPoint(m, bBytes, k, &c);
                if (!strFailure.empty())
                    std::printf("  mode %ld, crash at %s %llu: %s\n", (long)nMode, bBytes ? "byte" : "write",
                                (unsigned long long)k, strFailure.c_str());
            }
            Check(strFailure.empty(), "every crash point keeps the whole frames");
            Check(c.nFinished >= 1, "the last crash points leave a finished file");
            std::printf("  mode %ld: %lld crash points by %s, %lld left a finished file, %lld a torn final header\n",
                        (long)nMode, c.nPoints, bBytes ? "byte" : "write", c.nFinished, c.nTorn);
        }
        std::remove(m.path.c_str());
        std::remove(m.oldPath.c_str());
    }
}

// Every file call of writing, reading and preloading each mode failing in
// turn, with the Windows codes of EIO, EACCES and a full disk.
void IoErrors() {
    const std::string failure = rvotest::SweepEveryIoError(24, 16, 3, "winhost-scratch/io-sweep");
    if (!failure.empty()) std::printf("  %s\n", failure.c_str());
    Check(failure.empty(), "every failed file call is reported or its work done");
}

}   // namespace

int main() {
    std::printf("sectors\n");
    Sectors();
    std::printf("working set\n");
    WorkingSet();
    std::printf("crash points\n");
    CrashPoints();
    std::printf("I/O errors\n");
    IoErrors();
    if (g_nFailures == 0) std::printf("winlayer: all checks passed\n");
    else std::printf("winlayer: %d failure(s)\n", g_nFailures);
    return g_nFailures ? 1 : 0;
}
