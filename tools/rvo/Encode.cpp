// rvo encode: frames from raw BGRA on stdin or from PNG files, written into a
// new RVO file through the host commands 6, 8 and 10.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <new>
#include <stdexcept>
#include <string>
#include <vector>

#include "codec/JpegBlob.h"
#include "container/Limits.h"
#include "container/RvoFormat.h"
#include "encoder/FrameEncode.h"
#include "encoder/PackedBuilder.h"
#include "platform/CString.h"
#include "platform/LastError.h"
#include "tools/rvo/Commands.h"
#include "tools/rvo/FrameMemory.h"
#include "tools/rvo/HostSession.h"
#include "tools/rvo/OrderedWork.h"
#include "tools/rvo/PngFiles.h"
#include "tools/rvo/Progress.h"
#include "tools/rvo/SizeOption.h"
#include "tools/rvo/ThreadsOption.h"
#include "tools/rvo/ToolSupport.h"

namespace {

struct EncodeOptions {
    std::string strMode;
    std::string strPack;   // empty: not given
    std::string strSize;
    std::string strOutput;
    std::vector<std::string> inputs;
    int nThreads = 1;
};

// The inputs in frame order: raw frames from stdin, or PNG files. A PNG
// frame is only named here; reading it is part of the frame's work, done on
// the worker that encodes it.
class CFrameSource {
public:
    CFrameSource(const EncodeOptions& o, FrameSize size) : m_inputs(o.inputs), m_size(size) {
        m_bStdin = m_inputs.size() == 1 && m_inputs[0] == "-";
    }

    bool FromStdin() const { return m_bStdin; }
    // Frames to expect, or 0 when unknown (a pipe).
    long long Count() const { return m_bStdin ? 0 : (long long)m_inputs.size(); }

    // Frame k: its pixels (width x height, packed) from stdin into pixels,
    // which the caller made large enough, or the PNG file that holds it in
    // strPng; false at the end.
    bool Next(long long k, CFrameMemory& pixels, std::string& strPng) {
        strPng.clear();
        if (!m_bStdin) {
            if ((size_t)k >= m_inputs.size()) return false;
            strPng = m_inputs[(size_t)k];
            return true;
        }
        const size_t nPixels = (size_t)m_size.nWidth * (size_t)m_size.nHeight;
        if (pixels.Capacity() < nPixels * 4) throw std::logic_error("frame buffer too small");
        size_t got = std::fread(pixels.Bytes(), 1, nPixels * 4, stdin);
        if (got == 0 && std::feof(stdin)) return false;
        if (got < nPixels * 4) {
            if (std::ferror(stdin)) FailFile("stdin", "read error in frame " + std::to_string(k));
            FailFile("stdin", "input ends inside frame " + std::to_string(k) + " (" + std::to_string(got) + " of " +
                                  std::to_string(nPixels * 4) + " bytes; is --size " + std::to_string(m_size.nWidth) +
                                  "x" + std::to_string(m_size.nHeight) + " right?)");
        }
        return true;
    }

    // The pixels of a PNG frame, which must have the movie's frame size.
    void ReadPicture(const std::string& path, std::vector<DWORD>& pixels) const {
        PngPicture pic = ReadPng(path);
        if (pic.nWidth != m_size.nWidth || pic.nHeight != m_size.nHeight)
            FailFile(path, "picture is " + std::to_string(pic.nWidth) + "x" + std::to_string(pic.nHeight) +
                               ", the movie's frames are " + std::to_string(m_size.nWidth) + "x" +
                               std::to_string(m_size.nHeight));
        pixels = std::move(pic.pixels);
    }

private:
    std::vector<std::string> m_inputs;
    FrameSize m_size;
    bool m_bStdin = false;
};

// One frame on its way through the pipeline: read, encoded into its stored
// form, appended. The record buffer is kept for the next frame in the slot.
struct EncodeItem {
    CFrameMemory input;           // a frame from stdin
    std::vector<DWORD> picture;   // a frame from a PNG file
    std::string strPng;
    CFrameMemory record;   // the stored record of the raw modes
    RvoEncodedFrame frame;

    EncodeItem() = default;
    EncodeItem(const EncodeItem&) = delete;
    EncodeItem& operator=(const EncodeItem&) = delete;
    ~EncodeItem() {
        if (frame.hBlob) FreeJpegBlob(frame.hBlob);
    }
};

// The frame size: --size, or for PNG inputs the first picture's size.
FrameSize ResolveSize(const EncodeOptions& o) {
    FrameSize size;
    if (!o.strSize.empty()) {
        ParseFrameSize(o.strSize, size);   // the option's validator accepted it
        return size;
    }
    if (o.inputs.size() == 1 && o.inputs[0] == "-")
        throw CLI::ValidationError("--size", "WxH is required when frames come from stdin");
    PngPicture first = ReadPng(o.inputs[0]);
    size.nWidth = first.nWidth;
    size.nHeight = first.nHeight;
    return size;
}

void RunEncode(const EncodeOptions& o) {
    for (const std::string& in : o.inputs)
        if (in == "-" && o.inputs.size() > 1)
            throw CLI::ValidationError("INPUT", "'-' (raw frames on stdin) cannot be mixed with other inputs");
    const LONG nCompression = CompressionForModeName(o.strMode);
    const LONG nMode = nCompression == 1 ? rvo::JpegBlobs : nCompression == 2 ? rvo::PackedFrames
                                                                              : rvo::RawFrames;
    RvoPackRule packRule = RvoPackRule::Standard;
    if (!o.strPack.empty()) {
        if (nMode != rvo::PackedFrames) throw CLI::ValidationError("--pack", "applies to --mode packed only");
        PackRuleFromName(o.strPack.c_str(), &packRule);   // the option's check accepted the name
    }
    const FrameSize size = ResolveSize(o);
    const SIZE sizeFrame{size.nWidth, size.nHeight};
    const DWORD nBufferBytes = EncodeBufferBytes(nMode, sizeFrame);
    CFrameSource source(o, size);
    const long long nMax = source.FromStdin() ? (long long)rvo::kMaxEntries : source.Count();

    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    CHostWriter writer(o.strOutput, nCompression, size.nWidth, size.nHeight, nMax);
    CProgressBar bar("encode " + o.strOutput, source.Count());
    long long k = 0;
    auto ReserveOrFail = [&](CFrameMemory& m, size_t nBytes) {
        try {
            m.Reserve(nBytes);
        } catch (const std::bad_alloc&) {
            FailFile(o.strOutput, "out of memory for " + std::to_string(FramesInFlight(o.nThreads)) +
                                      " frames in flight (fewer --threads need less)");
        }
    };

    // The writer takes frames in frame order; a frame not stored stops the run
    // there, the frames before it kept in a finished file.
    auto Append = [&](long long nFrame, EncodeItem& item) {
        SetLastError(ERROR_SUCCESS);
        const int rc = writer.Append(item.frame);
        if (rc == kHostRefused)
            FailFile(o.strOutput, "frame " + std::to_string(nFrame) + " refused: a movie holds at most " +
                                      std::to_string(nMax) + " frames");
        if (rc != kHostDone || !writer.LastFramePictureStored()) {
            DWORD dwError = GetLastError();
            bar.Finish();
            writer.Close();                       // what was written before stays readable
            const bool bKept = rc == kHostDone;   // in the file as an entry without a picture
            const std::string why = DescribeUnstoredFrame(bKept, dwError);
            const std::string problem = WrittenFileProblem(o.strOutput, nFrame + (bKept ? 1 : 0), size.nWidth, size.nHeight, nMode);
            FailFile(o.strOutput, "frame " + std::to_string(nFrame) + " failed (" + why + "); stopped after " +
                                      std::to_string(nFrame) + " frames" +
                                      (bKept ? " (the file keeps frame " + std::to_string(nFrame) +
                                                   " as an entry without a picture)"
                                             : "") +
                                      (problem.empty() ? "" : ", and finishing the file failed: " + problem));
        }
        k = nFrame + 1;
        bar.Update(k);
        return true;
    };
    RunOrdered<EncodeItem>(
        o.nThreads, FramesInFlight(o.nThreads),
        [&](long long nFrame, EncodeItem& item) {
            ReserveOrFail(item.input, source.FromStdin() ? (size_t)size.nWidth * (size_t)size.nHeight * 4 : 0);
            return source.Next(nFrame, item.input, item.strPng);
        },
        [&](int, EncodeItem& item) {
            const DWORD* pPixels = item.input.Pixels();
            if (!item.strPng.empty()) {
                source.ReadPicture(item.strPng, item.picture);
                pPixels = item.picture.data();
            }
            ReserveOrFail(item.record, nBufferBytes);
            EncodeFrame(nMode, sizeFrame, pPixels, size.nWidth, item.record.Bytes(), nBufferBytes, item.frame,
                        packRule);
        },
        Append);
    bar.Finish();
    writer.Close();
    const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    if (k == 0) {
        // A movie without frames is of no use to anyone; leave nothing behind.
        std::error_code ec;
        std::filesystem::remove(o.strOutput, ec);
        FailFile(source.FromStdin() ? "stdin" : o.inputs[0], "no frames in the input");
    }
    const std::string problem = WrittenFileProblem(o.strOutput, k, size.nWidth, size.nHeight, nMode);
    if (!problem.empty()) FailFile(o.strOutput, "finishing the file failed: " + problem);

    std::error_code ec;
    unsigned long long bytes = std::filesystem::file_size(o.strOutput, ec);
    std::printf("%s: %lld frames of %dx%d, %s, %llu bytes, %.2f ms/frame\n", o.strOutput.c_str(), k, size.nWidth,
                size.nHeight, ModeName(nMode), bytes, ms / (double)k);
}

}   // namespace

void RegisterEncode(CLI::App& app) {
    auto opts = std::make_shared<EncodeOptions>();
    CLI::App* cmd = app.add_subcommand("encode", "Write frames (raw BGRA on stdin, or PNG files) into a new RVO file.");
    cmd->footer(
        "Write frames into a new RVO file through the module's host commands (create,\n"
        "write each frame, close). INPUT is '-' for raw BGRA frames on stdin (4 bytes\n"
        "per pixel: blue, green, red, alpha; frames back to back; --size required) or\n"
        "one or more PNG files, one frame each.\n"
        "\n"
        "Modes: jpeg (JpegBlobs: lossy, an alpha and a colour JPEG stream per frame),\n"
        "raw (RawFrames: uncompressed), packed (PackedFrames: lossless run-length).\n"
        "--pack chooses each packed frame's record: standard, the module's own rule\n"
        "(as a host's files are written), or smallest, the smallest of raw pixels,\n"
        "alpha runs and colour runs (graphics over transparency shrink to about\n"
        "half; every reader of packed files reads them).\n"
        "Frames are encoded on --threads workers and written in frame order: the file\n"
        "is the same whatever the count, and at most twice that many frames are in memory.\n\n"
        "Examples:\n"
        "  ffmpeg -i clip.mp4 -f rawvideo -pix_fmt bgra - |\n"
        "      rvo encode --mode packed --size 1920x1080 -o clip.rvo -\n"
        "  rvo encode --mode packed --pack smallest -o titles.rvo title*.png\n"
        "  rvo encode --mode jpeg -o titles.rvo title0001.png title0002.png title0003.png");
    cmd->add_option("--mode", opts->strMode, "storage mode: jpeg, raw or packed")
        ->required()
        ->check(CLI::IsMember({"jpeg", "raw", "packed"}));
    cmd->add_option("--pack", opts->strPack,
                    "packed records: standard (the module's rule, the default) or smallest (per frame)")
        ->check(CLI::IsMember({"standard", "smallest"}));
    cmd->add_option("--size", opts->strSize, "frame size WxH (required for stdin; PNG inputs default to the first picture's size)")
        ->check(FrameSizeValidator());
    cmd->add_option("-o,--output", opts->strOutput, "the RVO file to write (replaced if it exists)")->required();
    AddThreadsOption(cmd, &opts->nThreads);
    cmd->add_option("INPUT", opts->inputs, "'-' for raw BGRA frames on stdin, or PNG files")->required();
    cmd->callback([opts] { RunEncode(*opts); });
}
