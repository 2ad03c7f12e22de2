// rvo demo: a synthetic movie of rendered titles written in every writable
// storage mode through the host commands, verified, read back, preloaded and
// played from memory, with a table of sizes, speeds and fidelity and a
// contact sheet of decoded frames.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "platform/LastError.h"
#include "tools/rvo/Commands.h"
#include "tools/rvo/ContactSheet.h"
#include "tools/rvo/HostSession.h"
#include "tools/rvo/Picture.h"
#include "tools/rvo/ToolSupport.h"
#include "tools/rvo/VerifyFile.h"
#include "tools/rvo/System.h"

namespace {

using Clock = std::chrono::steady_clock;

double MsSince(Clock::time_point t0) { return std::chrono::duration<double, std::milli>(Clock::now() - t0).count(); }

struct DemoMode {
    const char* pszName;
    const char* pszFile;
    const char* pszModeOption;   // as rvo encode --mode takes it
};

const DemoMode kModes[] = {
    {"JpegBlobs", "demo-jpeg.rvo", "jpeg"},
    {"RawFrames", "demo-raw.rvo", "raw"},
    {"PackedFrames", "demo-packed.rvo", "packed"},
};

// One layer painted over the frame: colour (0..1 per channel) and coverage.
struct Paint {
    float b, g, r, a;
};

// Premultiplied accumulation of layers, stored as straight-alpha BGRA.
struct Canvas {
    int w, h;
    std::vector<float> cb, cg, cr, ca;
    Canvas(int w_, int h_) : w(w_), h(h_), cb((size_t)w * h), cg((size_t)w * h), cr((size_t)w * h), ca((size_t)w * h) {}
    void Over(size_t i, Paint p) {
        float k = 1.0f - p.a;
        cb[i] = cb[i] * k + p.b * p.a;
        cg[i] = cg[i] * k + p.g * p.a;
        cr[i] = cr[i] * k + p.r * p.a;
        ca[i] = ca[i] * k + p.a;
    }
    void Store(DWORD* out) const {
        for (size_t i = 0; i < cb.size(); i++) {
            float a = ca[i];
            if (a <= 0.0f) {
                out[i] = 0;
                continue;
            }
            auto q = [](float v) { return (DWORD)std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f); };
            out[i] = q(cb[i] / a) | (q(cg[i] / a) << 8) | (q(cr[i] / a) << 16) | (q(a) << 24);
        }
    }
};

float Smooth(float edge, float d) { return std::clamp(0.5f - d / edge, 0.0f, 1.0f); }

// A rendered title: a lower-third bar sliding in with a moving gradient, a
// glowing disc drifting across, and a translucent light sweep; soft alpha
// edges everywhere, fully transparent elsewhere.
void MakeFrame(DWORD* out, int w, int h, int t, int n) {
    Canvas c(w, h);
    const float s = (float)std::min(w, h) / 720.0f;
    const float phase = n > 1 ? (float)t / (float)(n - 1) : 0.0f;
    const float edge = std::max(1.5f, 6.0f * s);

    // Lower-third bar: slides in from the left during the first 40% of the movie.
    const float barTop = 0.70f * (float)h, barBottom = 0.86f * (float)h;
    const float barLeft = 0.06f * (float)w;
    const float barRight = barLeft + (0.88f * (float)w) * std::min(1.0f, phase / 0.4f + 0.05f);
    // Disc: drifts along an arc.
    const float cx = (0.15f + 0.7f * phase) * (float)w;
    const float cy = (0.40f - 0.15f * std::sin(3.14159f * phase)) * (float)h;
    const float radius = 0.17f * (float)h;
    // Sweep: a diagonal band moving right.
    const float sweep = (-0.3f + 1.6f * phase) * (float)w;

    for (int y = 0; y < h; y++) {
        for (int x = 0; x < w; x++) {
            const size_t i = (size_t)y * w + x;
            const float fx = (float)x + 0.5f, fy = (float)y + 0.5f;
            // Bar, distance outside the rectangle (negative inside).
            float dx = std::max(barLeft - fx, fx - barRight), dy = std::max(barTop - fy, fy - barBottom);
            float dBar = std::max(dx, dy);
            if (dBar < edge) {
                float u = (fx - barLeft) / (0.88f * (float)w) + phase;
                c.Over(i, Paint{0.55f + 0.35f * std::sin(6.2832f * u), 0.35f + 0.2f * std::sin(6.2832f * (u + 0.3f)),
                                0.10f, 0.85f * Smooth(edge, dBar)});
            }
            // Disc with a radial gradient from warm centre to orange rim.
            float dist = std::hypot(fx - cx, fy - cy);
            float dDisc = dist - radius;
            if (dDisc < 3.0f * edge) {
                float v = std::min(1.0f, dist / radius);
                c.Over(i, Paint{0.15f + 0.2f * (1 - v), 0.55f + 0.4f * (1 - v), 1.0f, Smooth(3.0f * edge, dDisc)});
            }
            // Sweep, 45 degrees, soft both sides.
            float dSweep = std::fabs((fx + fy * 0.5f) - sweep) - 0.04f * (float)w;
            if (dSweep < 4.0f * edge) c.Over(i, Paint{1.0f, 1.0f, 1.0f, 0.35f * Smooth(4.0f * edge, dSweep)});
        }
    }
    c.Store(out);
}

// 64-bit FNV-1a of the first nPixels of a frame, to show that delivery from
// memory gives the pixels that reading the file gave.
unsigned long long HashFrame(const std::vector<DWORD>& px, size_t nPixels) {
    unsigned long long hsh = 1469598103934665603ull;
    for (size_t i = 0; i < nPixels && i < px.size(); i++) {
        const DWORD v = px[i];
        hsh ^= v;
        hsh *= 1099511628211ull;
    }
    return hsh;
}

struct ModeResult {
    unsigned long long nFileBytes = 0;
    double encodeMs = 0, readMs = 0, preloadMs = 0, deliveryMs = 0;
    PixelDiff diff;
    std::string strNote;
};

struct DemoOptions {
    std::string outDir = "demo-out";
    int nFrames = 60;
    int nWidth = 1280;
    int nHeight = 720;
};

void RunDemo(const DemoOptions& o) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::create_directories(FsPath(o.outDir), ec);
    if (ec) FailFile(o.outDir, "cannot create the folder: " + ec.message());
    const int w = o.nWidth, h = o.nHeight, n = o.nFrames;
    const size_t nPixels = (size_t)w * (size_t)h;
    // Delivery from memory fills row pairs; the last row of an odd height is left alone.
    const size_t nDelivered = (size_t)w * (size_t)(h & ~1);

    auto t0 = Clock::now();
    std::vector<std::vector<DWORD>> frames((size_t)n, std::vector<DWORD>(nPixels));
    for (int t = 0; t < n; t++) MakeFrame(frames[(size_t)t].data(), w, h, t, n);
    std::printf(
        "rvo demo: %d frames of %dx%d rendered titles (made in %.0f ms), written into %s/ through the "
        "module's host commands\n%s\n\n",
        n, w, h, MsSince(t0), o.outDir.c_str(), RaiseLockLimit().c_str());

    CContactSheet sheet(w, h, n);
    sheet.AddRow([&](int k) { return frames[(size_t)k].data(); });

    std::vector<ModeResult> results;
    std::string failure;
    for (const DemoMode& mode : kModes) {
        const std::string path = PathText(FsPath(o.outDir) / mode.pszFile);
        ModeResult res;

        // Write: commands 6, 8 for each frame, 10.
        auto tw = Clock::now();
        {
            CHostWriter writer(path, CompressionForModeName(mode.pszModeOption), w, h, n);
            for (int k = 0; k < n; k++) {
                SetLastError(ERROR_SUCCESS);
                if (writer.Write(frames[(size_t)k].data(), w) != kHostDone)
                    FailFile(path, "frame " + std::to_string(k) + " could not be written (" +
                                       DescribeLastError(GetLastError()) + ")");
            }
            if (const DWORD dwError = writer.Close())
                FailFile(path, "finishing the file failed (" + DescribeLastError(dwError) + ")", dwError);
        }
        res.encodeMs = MsSince(tw) / n;
        res.nFileBytes = fs::file_size(FsPath(path), ec);

        // Verify with the module's own checks.
        {
            std::unique_ptr<CRvoFile> file = OpenRvoOrFail(path);
            VerifyResult v = VerifyFrames(*file, path, 1, nullptr);
            file->Close(FALSE);
            if (v.nBadFrame >= 0) FailFile(path, "frame " + std::to_string(v.nBadFrame) + " does not decode: " + v.strProblem);
            if (v.nFrames != n) FailFile(path, "holds " + std::to_string(v.nFrames) + " frames, not " + std::to_string(n));
        }

        // Read back from the file, then preload and play from memory.
        CHostReader reader(path);
        std::vector<DWORD> px(nPixels);
        std::vector<unsigned long long> hashes((size_t)n);
        std::vector<std::vector<DWORD>> kept;
        double readMs = 0;
        for (int k = 0; k < n; k++) {
            auto tr = Clock::now();
            DWORD dwError = reader.ReadFrame(k, px.data(), w, h, false);
            readMs += MsSince(tr);
            if (dwError) FailFile(path, DescribeFrameFailure(k, dwError), dwError);
            res.diff.Add(px.data(), frames[(size_t)k].data(), nPixels);
            hashes[(size_t)k] = HashFrame(px, nDelivered);
            if (sheet.Shows(k)) kept.push_back(px);
        }
        res.readMs = readMs / n;
        sheet.AddRow([&](int k) { return kept[(size_t)sheet.ColumnOf(k)].data(); });

        auto tp = Clock::now();
        PreloadReport pre = reader.Preload("preload " + path);
        res.preloadMs = MsSince(tp);
        if (pre.nFramesLoaded < n) {
            res.strNote = "preloaded " + std::to_string(pre.nFramesLoaded) + " of " + std::to_string(n) +
                          " frames: " + DescribeLastError(pre.dwLastError) +
                          (pre.dwLastError == ERROR_WORKING_SET_QUOTA
                               ? ", the limit is " + CurrentLockLimit() + " (see rvo preload --help)"
                               : std::string());
        }
        double deliverMs = 0;
        for (int k = 0; k < pre.nFramesLoaded; k++) {
            auto td = Clock::now();
            DWORD dwError = reader.ReadFrame(k, px.data(), w, h, true);
            deliverMs += MsSince(td);
            if (dwError || HashFrame(px, nDelivered) != hashes[(size_t)k]) {
                if (failure.empty())
                    failure = path + ": frame " + std::to_string(k) + " from memory differs from the file's";
                break;
            }
        }
        res.deliveryMs = pre.nFramesLoaded ? deliverMs / (double)pre.nFramesLoaded : 0;
        if (mode.pszModeOption != std::string("jpeg") && res.diff.nDiffering && failure.empty())
            failure = path + ": a lossless mode changed " + std::to_string(res.diff.nDiffering) + " pixels";
        results.push_back(res);
    }

    std::printf("%-13s %-16s %12s %10s %10s %11s %10s %10s\n", "mode", "file", "file bytes", "encode", "read",
                "preload", "delivery", "PSNR");
    std::printf("%-13s %-16s %12s %10s %10s %11s %10s %10s\n", "", "", "", "ms/frame", "ms/frame", "ms (all)",
                "ms/frame", "dB");
    for (size_t i = 0; i < results.size() && i < std::size(kModes); i++) {
        const ModeResult& r = results[i];
        std::printf("%-13s %-16s %12llu %10.2f %10.2f %11.1f %10.3f %10s\n", kModes[i].pszName, kModes[i].pszFile,
                    r.nFileBytes, r.encodeMs, r.readMs, r.preloadMs, r.deliveryMs, r.diff.PsnrText().c_str());
    }
    std::printf(
        "\nRaw frames are %llu bytes each (%llu for the movie). Read: a frame decoded from the file\n"
        "through command 7; delivery: both fields of a frame from the preload cache. PSNR: over all\n"
        "four bytes of every pixel against the source; inf = identical.\n",
        4ull * nPixels, 4ull * nPixels * (unsigned long long)n);
    for (size_t i = 0; i < results.size() && i < std::size(kModes); i++)
        if (!results[i].strNote.empty()) std::printf("%s: %s\n", kModes[i].pszName, results[i].strNote.c_str());

    const std::string sheetPath = PathText(FsPath(o.outDir) / "contact-sheet.png");
    sheet.Write(sheetPath);
    std::printf(
        "\nContact sheet: %s (%dx%d; rows: source, JpegBlobs, RawFrames, PackedFrames; columns: frames %s; "
        "over a grey checkerboard where transparent)\n",
        sheetPath.c_str(), sheet.Width(), sheet.Height(), sheet.ColumnList().c_str());
    std::printf("Total %.1f s. Try: rvo info %s/demo-packed.rvo\n", MsSince(t0) / 1000.0, o.outDir.c_str());
    if (!failure.empty()) throw ToolFailure(failure);
}

}   // namespace

void RegisterDemo(CLI::App& app) {
    auto opts = std::make_shared<DemoOptions>();
    CLI::App* cmd = app.add_subcommand("demo", "Make a synthetic movie, write it in every mode, read it back; table and contact sheet.");
    cmd->footer(
        "Make a synthetic movie of rendered titles (gradients and shapes with soft\n"
        "alpha edges), write it in every writable storage mode through the module's\n"
        "host commands, verify it, read it back, preload it and play it from memory;\n"
        "print a table of file size, encode, read, preload and delivery times and PSNR\n"
        "against the source, and write a contact sheet PNG of decoded frames.\n"
        "\n"
        "Example:\n  rvo demo --out demo-out && rvo info demo-out/demo-packed.rvo");
    cmd->add_option("--out", opts->outDir, "folder for the demo files")->capture_default_str();
    cmd->add_option("--frames", opts->nFrames, "number of frames")->check(CLI::Range(1, 1000))->capture_default_str();
    cmd->add_option("--width", opts->nWidth, "frame width")->check(CLI::Range(32, 4096))->capture_default_str();
    cmd->add_option("--height", opts->nHeight, "frame height")->check(CLI::Range(32, 4096))->capture_default_str();
    cmd->callback([opts] { RunDemo(*opts); });
}
