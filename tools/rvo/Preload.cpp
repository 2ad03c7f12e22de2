// rvo preload: a file preloaded into page-locked memory through command 9,
// then played from memory through command 7; reports the memory it takes and
// how fast frames are delivered from it.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "platform/LastError.h"
#include "platform/Memory.h"
#include "tools/rvo/Commands.h"
#include "tools/rvo/HostSession.h"
#include "tools/rvo/InfoReport.h"
#include "tools/rvo/ToolSupport.h"
#include "tools/rvo/VerifyFile.h"

namespace {

struct PreloadOptions {
    std::string strInput;
    bool bKeepLimit = false;
    bool bJson = false;
};

double Mb(unsigned long long n) { return (double)n / (1024.0 * 1024.0); }

void RunPreload(const PreloadOptions& o) {
    long long nFrames = 0;
    int cx = 0, cy = 0;
    LONG nMode = 0;
    {
        std::unique_ptr<CRvoFile> file = OpenRvoOrFail(o.strInput);
        nFrames = CheckedFrameCount(*file, o.strInput);
        cx = file->Header().m_nWidth;
        cy = file->Header().m_nHeight;
        nMode = file->Header().m_nMode;
        file->Close(FALSE);
    }
    const std::string strLimit = o.bKeepLimit ? "page-lock limit " + CurrentLockLimit() + " (kept)" : RaiseLockLimit();

    CHostReader reader(o.strInput);
    auto t0 = std::chrono::steady_clock::now();
    PreloadReport report = reader.Preload("preload " + o.strInput);
    double preloadMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();

    const unsigned long long frameBytes = 4ull * (unsigned long long)cx * (unsigned long long)cy;
    double perFrame = 0;
    if (report.nFramesLoaded > 0) {
        // Delivery: both fields of every preloaded frame through command 7.
        std::vector<DWORD> pixels((size_t)cx * (size_t)cy);
        auto t1 = std::chrono::steady_clock::now();
        for (long long k = 0; k < report.nFramesLoaded; k++) {
            DWORD dwError = reader.ReadFrame(k, pixels.data(), cx, cy, true);
            if (dwError)
                FailFile(o.strInput, "frame " + std::to_string(k) + " cannot be delivered from memory (" +
                                         DescribeLastError(dwError) + ")", dwError);
        }
        perFrame = std::chrono::duration<double>(std::chrono::steady_clock::now() - t1).count() /
                   (double)report.nFramesLoaded;
    }

    if (o.bJson) {
        // Times in the precision they are measured to.
        auto Rounded = [](double x, double dUnit) { return std::round(x / dUnit) * dUnit; };
        const Json j = {{"file", o.strInput},
                        {"mode", nMode},
                        {"width", cx},
                        {"height", cy},
                        {"frames", nFrames},
                        {"framesLoaded", report.nFramesLoaded},
                        {"preloadMs", Rounded(preloadMs, 1e-3)},
                        {"bytesLocked", report.nBytesLocked},
                        {"deliveryMsPerFrame", Rounded(perFrame * 1e3, 1e-4)},
                        {"pageLock", strLimit}};
        std::printf("%s\n", RenderJson(j).c_str());
    } else {
        std::printf("%s: %s %dx%d, preloaded %lld of %lld frames in %.1f ms; %s\n", o.strInput.c_str(),
                    ModeName(nMode), cx, cy, report.nFramesLoaded, nFrames, preloadMs, strLimit.c_str());
        if (report.nFramesLoaded > 0) {
            std::printf("  memory locked: %.2f MiB, %.3f MiB per frame (%.3f of the raw frame size)\n",
                        Mb(report.nBytesLocked), Mb(report.nBytesLocked) / (double)report.nFramesLoaded,
                        (double)report.nBytesLocked / (double)report.nFramesLoaded / (double)frameBytes);
            std::printf("  delivery from memory: %.3f ms/frame, %.0f frames/s, %.0f MB/s\n", perFrame * 1e3,
                        1.0 / perFrame, (double)frameBytes / perFrame / 1e6);
        }
    }
    if (report.nFramesLoaded < report.nFramesTotal) {
        std::string why = DescribeLastError(report.dwLastError);
        if (report.dwLastError == ERROR_WORKING_SET_QUOTA)
            why += "; the page-lock limit is " + CurrentLockLimit() + ": raise it with ulimit -l, or run with CAP_IPC_LOCK";
        if (report.dwLastError == ERROR_NOT_ENOUGH_MEMORY) why = "free physical memory ran short";
        if (report.dwLastError == ERROR_COMMITMENT_LIMIT) {
            MEMORYSTATUS ms;
            GlobalMemoryStatus(&ms);
            char figures[160];
            std::snprintf(figures, sizeof figures,
                          " (%.0f MiB of the %.0f MiB address space free); raise the limit "
                          "with ulimit -v to preload more",
                          Mb(ms.dwAvailVirtual), Mb(ms.dwTotalVirtual));
            why += figures;
        }
        FailFile(o.strInput, "preloading stopped after " + std::to_string(report.nFramesLoaded) + " of " +
                                 std::to_string(report.nFramesTotal) + " frames: " + why);
    }
}

}   // namespace

void RegisterPreload(CLI::App& app) {
    auto opts = std::make_shared<PreloadOptions>();
    CLI::App* cmd = app.add_subcommand("preload", "Preload an RVO file into locked memory; report the memory and delivery speed.");
    cmd->footer(
        "Preload an RVO file into page-locked memory the way a host does (command 9,\n"
        "with a progress bar), then deliver every frame from memory (command 7) and\n"
        "report the memory locked and the delivery speed. Raw and packed files are kept\n"
        "as raw frames, JPEG files as run-length coded fields. The page-lock limit\n"
        "(RLIMIT_MEMLOCK) is raised first where this is allowed.\n"
        "\n"
        "Examples:\n  rvo preload movie.rvo\n  rvo preload --json movie.rvo | jq .deliveryMsPerFrame\n"
        "Exit 1 when preloading stops early, with the reason (for instance the page-lock limit).");
    cmd->add_option("FILE", opts->strInput, "the RVO file")->required();
    cmd->add_flag("--keep-memlock-limit", opts->bKeepLimit, "leave RLIMIT_MEMLOCK as it is");
    cmd->add_flag("--json", opts->bJson, "print the figures as one JSON object (machine-readable)");
    cmd->callback([opts] { RunPreload(*opts); });
}
