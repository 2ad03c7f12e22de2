// Times `rvo encode` and `rvo decode` with one thread per core against the
// same commands with --threads 1, run in turns as child processes of the
// built tool on 1920 x 1080 movies, next to the disk's own O_DIRECT write and
// read rates for files of the same size, so a run shows whether more threads
// still pay or the disk is what limits them.
// Usage: ThreadsBench [folder for scratch files, default .] [rvo program, default ../rvo beside bench/]
#include <fcntl.h>
#include <linux/magic.h>
#include <sys/mman.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "tests/support/SyntheticFrames.h"

namespace {

namespace fs = std::filesystem;
using rvotest::Content;

constexpr int kW = 1920, kH = 1080;
constexpr int kFrames = 60;   // per movie; a call runs the tool over all of them, so start-up weighs little
constexpr size_t kFrameBytes = 4 * (size_t)kW * kH;
constexpr size_t kBlockBytes = 8u << 20;
constexpr int kDiskBoundPercent = 80;        // this share of the disk's frame rate or more: the disk limits the run
const rvobench::Rounds kTurns{3, 0, 1, 1};   // a call is a whole movie: three rounds of one call each

// The disk's own rates for nBytes (rounded up to whole 4 KiB blocks), written
// and read back through O_DIRECT in 8 MiB blocks from a huge-page buffer, as
// the tool moves its records (neither flushes the device's cache); buffered
// where the file system refuses O_DIRECT, which bDirect then says. tmpfs
// takes O_DIRECT on newer kernels, but its rates are the memory's.
struct DiskRates {
    rvobench::Timing write, read;
    bool bDirect = true, bOk = true, bTmpfs = false;
};

DiskRates MeasureDisk(const std::string& dir, unsigned long long nBytes) {
    DiskRates d;
    const std::string path = dir + "/threads-bench-disk";
    struct statfs st;
    d.bTmpfs = statfs(dir.c_str(), &st) == 0 && st.f_type == TMPFS_MAGIC;
    nBytes = (nBytes + 4095) / 4096 * 4096;
    void* pBlock = std::aligned_alloc(2u << 20, kBlockBytes);
    if (!pBlock) {
        d.bOk = false;
        return d;
    }
    madvise(pBlock, kBlockBytes, MADV_HUGEPAGE);
    std::vector<uint32_t> noise = rvotest::MakeFrame(1024, 512, Content::Noise);   // nothing a device could compress
    std::memcpy(pBlock, noise.data(), kBlockBytes / 4);
    for (size_t i = 1; i < 4; i++) std::memcpy((char*)pBlock + i * kBlockBytes / 4, pBlock, kBlockBytes / 4);
    auto Open = [&](int flags) {
        int fd = d.bDirect ? open(path.c_str(), flags | O_DIRECT, 0644) : -1;
        if (fd < 0 && d.bDirect && errno == EINVAL) d.bDirect = false;
        return fd >= 0 ? fd : open(path.c_str(), flags, 0644);
    };
    auto Pass = [&](bool bWrite) {
        const int fd = Open(bWrite ? O_WRONLY | O_CREAT | O_TRUNC : O_RDONLY);
        bool bOk = fd >= 0;
        for (unsigned long long nDone = 0; bOk && nDone < nBytes;) {
            const size_t n = (size_t)std::min<unsigned long long>(kBlockBytes, nBytes - nDone);
            const ssize_t got = bWrite ? write(fd, pBlock, n) : read(fd, pBlock, n);
            bOk = got == (ssize_t)n;
            nDone += n;
        }
        if (fd >= 0) close(fd);
        d.bOk = d.bOk && bOk;
    };
    d.write = rvobench::Time([&](int) { Pass(true); }, nullptr, kTurns);
    d.read = rvobench::Time([&](int) { Pass(false); }, nullptr, kTurns);
    std::remove(path.c_str());
    std::free(pBlock);
    return d;
}

// A timing of whole movies as one of frames, the baseline dropped: PrintRow's
// ratio is a time over a time, and here the speed-up goes in the note.
rvobench::Timing PerFrame(const rvobench::Timing& t) { return {t.dSeconds / kFrames, 0, t.nCalls}; }

// "1.85x as fast as 1 thread (30.2 ms/frame); 64% of the disk's write rate": above 1, the threads pay
std::string Note(const rvobench::Timing& t, double dDiskFps, const char* pszDisk, bool bOk) {
    char note[200];
    int n = std::snprintf(note, sizeof note, "%.2fx as fast as 1 thread (%.1f ms/frame)", t.dBaseSeconds / t.dSeconds,
                          t.dBaseSeconds / kFrames * 1e3);
    if (dDiskFps > 0) {
        const int nPercent = (int)(100 * kFrames / t.dSeconds / dDiskFps + 0.5);   // judged as printed
        n += std::snprintf(note + n, sizeof note - (size_t)n, "; %d%% of the disk's %s rate%s", nPercent, pszDisk,
                           nPercent >= kDiskBoundPercent ? ": disk-bound" : "");
    }
    return std::string(note) + (bOk ? "" : " (A RUN FAILED)");
}

struct Mode {
    const char* pszName;
    bool bLossless;
};

// One mode on one content's input: the tool's output checked, then timed
// against one thread; false when a check fails. dRawBytesPerSecond: the
// disk's write and read rates measured on the raw file, for the JPEG file.
bool BenchMode(const std::string& rvo, const std::string& dir, const std::string& input, const Mode& m,
               int nThreads, double dRawBytesPerSecond[2]) {
    const std::string one = dir + "/threads-bench-1.rvo", all = dir + "/threads-bench-n.rvo";
    const std::string back1 = dir + "/threads-bench-1.bgra", backN = dir + "/threads-bench-n.bgra";
    const std::string threads = std::to_string(nThreads);
    auto Encode = [&](const std::string& t, const std::string& out) {
        return rvobench::RunTool(rvo, {"encode", "--mode", m.pszName, "--size", "1920x1080", "--threads", t, "-o", out, "-"},
                                 input.c_str(), "/dev/null");
    };
    auto Decode = [&](const std::string& t, const char* pszOut) {
        return rvobench::RunTool(rvo, {"decode", "--threads", t, one, "-o", "-"}, "/dev/null", pszOut);
    };
    char what[80];
    std::snprintf(what, sizeof what, "%s, %d threads", m.pszName, nThreads);
    bool bOk = rvobench::Verified(Encode("1", one) && Encode(threads, all), what, "rvo encode failed") &&
               rvobench::Verified(rvobench::SameFile(one, all), what, "the file differs from the 1-thread file") &&
               rvobench::Verified(Decode("1", back1.c_str()) && Decode(threads, backN.c_str()), what,
                                  "rvo decode failed") &&
               rvobench::Verified(rvobench::SameFile(back1, backN) && (!m.bLossless || rvobench::SameFile(back1, input)), what,
                                  "the decoded frames differ from the 1-thread decode or the input");
    std::remove(back1.c_str());
    std::remove(backN.c_str());
    std::error_code ec;
    const unsigned long long nFileBytes = bOk ? fs::file_size(one, ec) : 0;
    bOk = bOk && rvobench::Verified(!ec && nFileBytes > 0, what, "the file's size is unknown");
    if (bOk) {
        // The disk moving this file's bytes, as frames of this file per second.
        double dDisk[2] = {dRawBytesPerSecond[0], dRawBytesPerSecond[1]};
        if (m.bLossless) {
            const DiskRates d = MeasureDisk(dir, nFileBytes);
            const size_t nPerFrame = (size_t)(nFileBytes / kFrames);
            const char* pszHow = d.bDirect ? "O_DIRECT" : "buffered";
            const char* pszNote = !d.bOk      ? "(A TRANSFER FAILED)"
                                  : d.bTmpfs  ? "the folder is on tmpfs: memory rates, not a disk's"
                                  : d.bDirect ? ""
                                              : "O_DIRECT refused here: page-cache rates, not the disk's";
            char label[80];
            std::snprintf(label, sizeof label, "disk write, %s (%.0f MB, %s)", pszHow, (double)nFileBytes / 1e6,
                          m.pszName);
            rvobench::PrintRow(label, PerFrame(d.write), nPerFrame, "", pszNote);
            std::snprintf(label, sizeof label, "disk read, %s", pszHow);
            rvobench::PrintRow(label, PerFrame(d.read), nPerFrame, "", pszNote);
            dDisk[0] = (double)nFileBytes / d.write.dSeconds;
            dDisk[1] = (double)nFileBytes / d.read.dSeconds;
            // The first measurement is the raw file's: the JPEG file is too small to time the disk with.
            if (dRawBytesPerSecond[0] == 0) std::copy(dDisk, dDisk + 2, dRawBytesPerSecond);
            bOk = d.bOk;
        }
        const double dFileFrames = (double)nFileBytes / kFrames;   // bytes per frame in this file
        bool bRan = true;
        const rvobench::Timing enc = rvobench::Time([&](int) { bRan = Encode(threads, all) && bRan; },
                                                    [&](int) { bRan = Encode("1", one) && bRan; }, kTurns);
        std::snprintf(what, sizeof what, "encode %s, %d threads", m.pszName, nThreads);
        rvobench::PrintRow(what, PerFrame(enc), kFrameBytes, "",
                           Note(enc, dDisk[0] / dFileFrames, "write", bRan).c_str());
        bOk = bOk && bRan;
        bRan = true;
        const rvobench::Timing dec = rvobench::Time([&](int) { bRan = Decode(threads, "/dev/null") && bRan; },
                                                    [&](int) { bRan = Decode("1", "/dev/null") && bRan; }, kTurns);
        std::snprintf(what, sizeof what, "decode %s, %d threads", m.pszName, nThreads);
        rvobench::PrintRow(what, PerFrame(dec), kFrameBytes, "",
                           Note(dec, dDisk[1] / dFileFrames, "read", bRan).c_str());
        bOk = bOk && bRan;
        if (!m.bLossless)
            std::printf("  (file %.1f MB; the disk's rates are the raw file's bytes per second)\n",
                        (double)nFileBytes / 1e6);
    }
    std::remove(one.c_str());
    std::remove(all.c_str());
    return bOk;
}

// kFrames frames of the content, seeds 0, 1, 2 ..., as raw BGRA.
bool WriteInput(const std::string& path, Content c) {
    FILE* f = std::fopen(path.c_str(), "wb");
    bool bOk = f != nullptr;
    for (int k = 0; bOk && k < kFrames; k++) {
        const std::vector<uint32_t> frame = rvotest::MakeFrame(kW, kH, c, (uint32_t)k);
        bOk = std::fwrite(frame.data(), 4, frame.size(), f) == frame.size();
    }
    if (f) bOk = std::fclose(f) == 0 && bOk;
    return bOk;
}

}   // namespace

int main(int argc, char** argv) {
    const std::string dir = argc > 1 ? argv[1] : ".";
    const std::string rvo = rvobench::FindRvoProgram(argc, argv, "ThreadsBench");
    if (rvo.empty()) return 1;
    const unsigned nCores = std::thread::hardware_concurrency();
    const int nThreads = nCores ? (int)nCores : 1;
    std::printf(
        "ThreadsBench: %s on %d x %d, %d frames per movie, %d threads (one per core) against 1; "
        "fastest of %d turns\n",
        rvo.c_str(), kW, kH, kFrames, nThreads, kTurns.nRounds);
    const Mode modes[] = {{"raw", true}, {"packed", true}, {"jpeg", false}};
    bool bOk = true;
    for (Content c : {Content::Natural, Content::Graphics}) {
        std::printf("%s\n", rvotest::ContentName(c));
        const std::string input = dir + "/threads-bench-input.bgra";
        double dRawBytesPerSecond[2] = {0, 0};
        if (rvobench::Verified(WriteInput(input, c), "input", "cannot write the frames"))
            for (const Mode& m : modes) bOk = BenchMode(rvo, dir, input, m, nThreads, dRawBytesPerSecond) && bOk;
        else
            bOk = false;
        std::remove(input.c_str());
    }
    return bOk ? 0 : 1;
}
