// rvo demo: writes a short synthetic movie in each writable storage mode
// through the host commands (create, write, close), then reads each back.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "plugin/Dispatch.h"
#include "tools/rvo/Commands.h"
#include "tools/rvo/ToolSupport.h"

namespace {

constexpr double kFieldDuration = 1.0;    // host time unit: one field
constexpr DWORD kUntouched = 0xDEADBEEFu;

struct DemoMode {
    const char* pszName;
    const char* pszFile;
    LONG nCompression;   // the host's choice: 1 JPEG blobs, 2 packed, anything else raw
    bool bLossless;
};

const DemoMode kModes[] = {
    {"JpegBlobs", "demo-jpeg.rvo", 1, false},
    {"RawFrames", "demo-raw.rvo", 0, true},
    {"PackedFrames", "demo-packed.rvo", 2, true},
};

// Moving gradients under a soft-edged disc of alpha, like a rendered title.
std::vector<DWORD> MakeFrame(int w, int h, int t) {
    std::vector<DWORD> px((size_t)w * h);
    double cx = w * (0.3 + 0.4 * t / 16.0), cy = h / 2.0, r = h / 3.0;
    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            DWORD b = (DWORD)((x * 255 / w + t * 8) & 255);
            DWORD g = (DWORD)(y * 255 / h);
            DWORD rr = (DWORD)(((x + y + t * 5) * 3) & 255);
            double d = std::hypot(x - cx, y - cy) - r;
            double a = d <= 0 ? 255.0 : std::max(0.0, 255.0 - d * 32.0);
            px[(size_t)y * w + x] = b | (g << 8) | (rr << 16) | ((DWORD)a << 24);
        }
    }
    return px;
}

HostFrameBuffer BufferOf(std::vector<DWORD>& px, int w, int h) {
    HostFrameBuffer buf{};
    buf.nWidth = w;
    buf.nHeight = h;
    buf.nStride = w;
    buf.pPixels = px.data();
    return buf;
}

// Frames accepted by the module (command 8 answered 0).
int WriteMovie(const std::string& path, const DemoMode& mode, const std::vector<std::vector<DWORD>>& frames,
               int w, int h) {
    auto in = std::make_unique<HostMediaInfo>();
    *in = HostMediaInfo{};
    SetHostPath(*in, path);
    in->rcRegion = RECT{0, 0, w, h};
    in->nCompression = mode.nCompression;
    in->dFieldDuration = kFieldDuration;
    in->dTotalDuration = 2.0 * kFieldDuration * (double)(frames.size() - 1);
    RvoHandle* handle = nullptr;
    if (RvoDispatch(CMD_CREATE_WRITE, in.get(), in.get(), &handle) != kHostDone) {
        RvoDispatch(CMD_CLOSE, nullptr, nullptr, &handle);
        FailFile(path, "cannot be created");
    }
    int accepted = 0;
    for (const std::vector<DWORD>& f : frames) {
        std::vector<DWORD> copy = f;
        HostFrameBuffer src = BufferOf(copy, w, h);
        in->pSrc = &src;
        if (RvoDispatch(CMD_WRITE_FRAME, in.get(), in.get(), &handle) == kHostDone) accepted++;
    }
    RvoDispatch(CMD_CLOSE, nullptr, nullptr, &handle);
    return accepted;
}

// Reads frame k back through commands 5 and 7 and describes how it compares.
std::string ReadBack(const std::string& path, const DemoMode& mode, const std::vector<DWORD>& source, int k,
                     int w, int h) {
    auto in = std::make_unique<HostMediaInfo>();
    *in = HostMediaInfo{};
    SetHostPath(*in, path);
    RvoHandle* handle = nullptr;
    if (RvoDispatch(CMD_OPEN_READ, in.get(), in.get(), &handle) != kHostDone) {
        RvoDispatch(CMD_CLOSE, nullptr, nullptr, &handle);
        return "cannot be opened";
    }
    std::vector<DWORD> px((size_t)w * h, kUntouched);
    HostFrameBuffer dst = BufferOf(px, w, h);
    in->pDst = &dst;
    in->rcRegion = RECT{0, 0, w, h};
    in->dFieldDuration = kFieldDuration;
    in->dTime = 2.0 * kFieldDuration * k;
    int rc = RvoDispatch(CMD_READ_FRAME, in.get(), in.get(), &handle);
    RvoDispatch(CMD_CLOSE, nullptr, nullptr, &handle);
    if (rc != kHostDone) return "read failed";

    size_t untouched = 0, differing = 0;
    double sumSq = 0;
    for (size_t i = 0; i < px.size(); i++) {
        if (px[i] == kUntouched) untouched++;
        if (px[i] != source[i]) differing++;
        for (int c = 0; c < 32; c += 8) {
            double d = (double)((px[i] >> c) & 255) - (double)((source[i] >> c) & 255);
            sumSq += d * d;
        }
    }
    if (untouched == px.size()) return "no pixels delivered";
    if (differing == 0) return "exact";
    double mse = sumSq / (4.0 * (double)px.size());
    char buf[64];
    std::snprintf(buf, sizeof buf, "PSNR %.1f dB%s", 10.0 * std::log10(255.0 * 255.0 / mse),
                  mode.bLossless ? " (expected exact!)" : "");
    return buf;
}

}  // namespace

void RegisterDemo(CLI::App& app) {
    struct Options {
        std::string outDir = "demo-out";
        int nFrames = 12;
        int nWidth = 320;
        int nHeight = 180;
    };
    auto opts = std::make_shared<Options>();
    CLI::App* cmd = app.add_subcommand(
        "demo", "Write a short synthetic movie in every writable storage mode through the host "
                "commands, read a frame of each back, and list the files.");
    cmd->footer("Example:\n  rvo demo --out demo-out && rvo info demo-out/demo-packed.rvo");
    cmd->add_option("--out", opts->outDir, "folder for the demo files")->capture_default_str();
    cmd->add_option("--frames", opts->nFrames, "number of frames")->check(CLI::Range(1, 1000))->capture_default_str();
    cmd->add_option("--width", opts->nWidth, "frame width")->check(CLI::Range(1, 4096))->capture_default_str();
    cmd->add_option("--height", opts->nHeight, "frame height")->check(CLI::Range(1, 4096))->capture_default_str();
    cmd->callback([opts] {
        std::error_code ec;
        std::filesystem::create_directories(opts->outDir, ec);
        if (ec) FailFile(opts->outDir, "cannot create the folder: " + ec.message());
        int w = opts->nWidth, h = opts->nHeight;
        std::vector<std::vector<DWORD>> frames;
        for (int t = 0; t < opts->nFrames; t++) frames.push_back(MakeFrame(w, h, t));

        std::printf("rvo demo: %d frames of %dx%d, written through the host commands into %s/\n\n",
                    opts->nFrames, w, h, opts->outDir.c_str());
        std::printf("%-13s %-18s %9s %12s %12s  %s\n", "mode", "file", "accepted", "file frames", "file bytes",
                    "middle frame read back");
        for (const DemoMode& mode : kModes) {
            std::string path = (std::filesystem::path(opts->outDir) / mode.pszFile).string();
            int accepted = WriteMovie(path, mode, frames, w, h);
            std::unique_ptr<CRvoFile> file = OpenRvoOrFail(path);
            int stored = file->GetFrameCount();
            file->Close(FALSE);
            std::string readBack = stored > 0 ? ReadBack(path, mode, frames[stored / 2], stored / 2, w, h)
                                              : "no frames stored";
            std::printf("%-13s %-18s %5d/%-3d %12d %12llu  %s\n", mode.pszName, mode.pszFile, accepted,
                        opts->nFrames, stored, (unsigned long long)std::filesystem::file_size(path, ec),
                        readBack.c_str());
        }
    });
}
