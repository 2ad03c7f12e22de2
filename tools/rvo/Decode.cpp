// rvo decode: every frame of a file read through the host commands 5, 7 and
// 10, written as raw BGRA to stdout or as numbered PNG files.

#include <memory>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/rvo/Commands.h"
#include "tools/rvo/FrameMemory.h"
#include "tools/rvo/FramePattern.h"
#include "tools/rvo/HostSession.h"
#include "tools/rvo/OrderedWork.h"
#include "tools/rvo/PngFiles.h"
#include "tools/rvo/Progress.h"
#include "tools/rvo/ThreadsOption.h"
#include "tools/rvo/ToolSupport.h"
#include "tools/rvo/VerifyFile.h"
#include "tools/rvo/System.h"

namespace {

struct DecodeOptions {
    std::string strInput;
    std::string strOutput;
    int nThreads = 1;
};

// One frame on its way out: decoded (and for PNG output, compressed) by a
// worker, written in frame order.
struct DecodeItem {
    long long k = 0;
    CFrameMemory pixels;
    DWORD dwError = 0;
    std::vector<unsigned char> png;
};

void RunDecode(const DecodeOptions& o) {
    const bool bStdout = o.strOutput == "-";
    if (!bStdout && !IsFramePattern(o.strOutput))
        throw CLI::ValidationError("--output", "expected '-' or a file name pattern with one %d (e.g. frame%04d.png), got '" +
                                                   o.strOutput + "'");
    if (bStdout && StdoutIsTerminal())
        throw CLI::ValidationError("--output", "'-' writes raw frames; pipe them into a program (e.g. ffmpeg)");

    const MovieShape shape = ReadMovieShapeOrFail(o.strInput);
    const long long nFrames = shape.nFrames;
    const int cx = shape.nWidth, cy = shape.nHeight;
    // A reader that has gone away is reported as a write error, not a signal.
    IgnoreBrokenPipe();

    // Each worker reads through its own handle on the file.
    std::vector<std::unique_ptr<CHostReader>> readers;
    for (int w = 0; w < o.nThreads; w++) readers.push_back(std::make_unique<CHostReader>(o.strInput));
    const size_t nFrameBytes = (size_t)cx * (size_t)cy * 4;
    CProgressBar bar("decode " + o.strInput, nFrames);
    RunOrdered<DecodeItem>(
        o.nThreads, FramesInFlight(o.nThreads),
        [&](long long k, DecodeItem& item) {
            item.k = k;
            return k < nFrames;
        },
        [&](int w, DecodeItem& item) {
            item.pixels.Reserve(nFrameBytes);
            item.dwError = readers[(size_t)w]->ReadFrame(item.k, item.pixels.Pixels(), cx, cy, false);
            if (!item.dwError && !bStdout)
                item.png = EncodePng(FrameFileName(o.strOutput, item.k), item.pixels.Pixels(), cx, cy, cx);
        },
        [&](long long k, DecodeItem& item) {
            if (item.dwError) {
                bar.Finish();
                FailFile(o.strInput, DescribeFrameFailure(k, item.dwError), item.dwError);
            }
            if (bStdout) {
                if (std::fwrite(item.pixels.Bytes(), 1, nFrameBytes, stdout) != nFrameBytes) {
                    bar.Finish();
                    FailFile("stdout", "write error at frame " + std::to_string(k));
                }
            } else {
                WritePngFile(FrameFileName(o.strOutput, k), item.png);
            }
            bar.Update(k + 1);
            return true;
        });
    bar.Finish();
    if (bStdout) {
        if (std::fflush(stdout) != 0) FailFile("stdout", "write error");
        if (CProgressBar::Enabled())
            std::fprintf(stderr, "%s: %lld frames of %dx%d written to stdout as raw BGRA\n", o.strInput.c_str(),
                         nFrames, cx, cy);
    } else {
        std::printf("%s: %lld frames of %dx%d written to %s\n", o.strInput.c_str(), nFrames, cx, cy,
                    o.strOutput.c_str());
    }
}

}   // namespace

void RegisterDecode(CLI::App& app) {
    auto opts = std::make_shared<DecodeOptions>();
    CLI::App* cmd = app.add_subcommand("decode", "Read every frame of an RVO file into raw BGRA on stdout or into PNG files.");
    cmd->footer(
        "Read every frame of an RVO file through the module's host commands (open, read\n"
        "each frame, close) and write it as raw BGRA frames to stdout ('-') or as PNG\n"
        "files named by a pattern with one %d for the frame number (counted from 0).\n"
        "Frames are decoded on --threads workers, each with its own handle on the file,\n"
        "and written in frame order.\n"
        "\n"
        "Examples:\n"
        "  rvo decode movie.rvo -o - | ffmpeg -f rawvideo -pix_fmt bgra -s 1920x1080 -r 25 -i - movie.mp4\n"
        "  rvo decode movie.rvo -o frames/frame%04d.png\n"
        "(rvo info movie.rvo gives the frame size for -s.)");
    cmd->add_option("FILE", opts->strInput, "the RVO file")->required();
    cmd->add_option("-o,--output", opts->strOutput, "'-' for raw BGRA on stdout, or a PNG name pattern")->required();
    AddThreadsOption(cmd, &opts->nThreads);
    cmd->callback([opts] { RunDecode(*opts); });
}
