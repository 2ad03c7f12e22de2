// rvo encode, decode and verify on several threads: the same files, the same
// output and the same first failure as on one thread, and the ordered work
// they are built on.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "container/RvoFile.h"
#include "container/RvoFormat.h"
#include "platform/ByteOrder.h"
#include "platform/LastError.h"
#include "tests/support/SyntheticFrames.h"
#include "tests/support/TestFiles.h"
#include "tools/rvo/HostSession.h"
#include "tools/rvo/OrderedWork.h"
#include "tools/rvo/PngFiles.h"

namespace {

using rvotest::Content;
using rvotest::ReadAll;
using rvotest::ScratchPath;

const int kThreadCounts[] = {1, 2, 7};

struct ToolRun {
    int nExit = -1;
    std::string strErrors;
};

// The built rvo with args (each quoted), stdin and stdout from and to files.
ToolRun RunRvo(const std::string& args, const std::string& in, const std::string& out) {
    const char* dir = std::getenv("RVO_BUILD_DIR");
    const std::string err = out + ".err";
    const std::string cmd = "'" + std::string(dir ? dir : ".") + "/rvo' " + args + " < '" + in + "' > '" + out +
                            "' 2> '" + err + "'";
    const int status = std::system(cmd.c_str());
    ToolRun run;
    run.nExit = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    const std::vector<uint8_t> bytes = ReadAll(err);
    run.strErrors.assign(bytes.begin(), bytes.end());
    return run;
}

// Raw BGRA frames back to back, as rvo encode takes them on stdin.
std::string RawInput(const std::string& name, const std::vector<std::vector<uint32_t>>& frames) {
    std::vector<uint8_t> bytes;
    for (const auto& f : frames) rvotest::PutBytes(bytes, f.data(), f.size() * 4);
    const std::string path = ScratchPath(name);
    rvotest::WriteAll(path, bytes);
    return path;
}

// The reference: the frames written through command 8, one at a time.
std::vector<uint8_t> WrittenByCommand8(const std::string& path, const char* pszMode, int w, int h,
                                       const std::vector<std::vector<uint32_t>>& frames) {
    {
        CHostWriter writer(path, CompressionForModeName(pszMode), w, h, (long long)frames.size());
        for (const auto& f : frames) EXPECT_EQ(writer.Write(f.data(), w), kHostDone) << path;
    }
    return ReadAll(path);
}

TEST(Threads, FilesAndDecodedFramesAreTheSameForEveryThreadCount) {
    // An odd size: partial 512-byte sectors, a last colour group of 3 pixels;
    // more frames than 7 threads keep in flight, so the window wraps.
    const int w = 71, h = 37, n = 23;
    const char* modes[] = {"jpeg", "raw", "packed"};
    const Content contents[] = {Content::Natural, Content::Graphics, Content::Runs};
    for (Content c : contents) {
        std::vector<std::vector<uint32_t>> frames;
        for (int k = 0; k < n; k++) frames.push_back(rvotest::MakeFrame(w, h, c, (uint32_t)k * 7919u));
        const std::string input = RawInput("frames.raw", frames);
        for (const char* mode : modes) {
            const std::string what = std::string(mode) + " " + rvotest::ContentName(c);
            const std::string ref = ScratchPath("ref.rvo");
            const std::vector<uint8_t> expected = WrittenByCommand8(ref, mode, w, h, frames);
            std::vector<uint8_t> decodedByOne;
            for (int t : kThreadCounts) {
                const std::string out = ScratchPath("t" + std::to_string(t) + ".rvo");
                const std::string threads = " --threads " + std::to_string(t);
                ToolRun run = RunRvo(std::string("encode --mode ") + mode + " --size 71x37" + threads + " -o '" +
                                         out + "' -",
                                     input, ScratchPath("encode.out"));
                ASSERT_EQ(run.nExit, 0) << what << threads << ": " << run.strErrors;
                EXPECT_EQ(rvotest::DiffBytes(expected, ReadAll(out)), "") << what << threads;

                const std::string decoded = ScratchPath("decoded.raw");
                run = RunRvo("decode" + threads + " '" + ref + "' -o -", "/dev/null", decoded);
                ASSERT_EQ(run.nExit, 0) << what << threads << ": " << run.strErrors;
                const std::vector<uint8_t> bytes = ReadAll(decoded);
                EXPECT_EQ(bytes.size(), (size_t)n * w * h * 4) << what << threads;
                if (decodedByOne.empty()) decodedByOne = bytes;
                EXPECT_TRUE(bytes == decodedByOne) << what << threads << ": decoded frames differ from one thread's";

                run = RunRvo("verify" + threads + " '" + ref + "'", "/dev/null", ScratchPath("verify.out"));
                EXPECT_EQ(run.nExit, 0) << what << threads << ": " << run.strErrors;
            }
        }
    }
}

// The writer's entry for frames encoded elsewhere keeps command 8's count: a
// frame that could not be encoded fails and leaves its number free, frames
// past the announced count are refused, and a refused picture is freed (the
// sanitizer builds' leak check).
TEST(Threads, AppendedFramesAreCountedAsCommand8CountsThem) {
    const SIZE size{24, 24};
    const std::vector<uint32_t> frame = rvotest::MakeFrame(24, 24, Content::Natural);
    const std::string path = ScratchPath("appended.rvo");
    {
        CHostWriter writer(path, CompressionForModeName("jpeg"), 24, 24, 2);
        RvoEncodedFrame failed;
        failed.bFailed = TRUE;
        failed.dwError = ERROR_WRITE_FAULT;
        EXPECT_EQ(writer.Append(failed), kHostFailed);
        EXPECT_EQ(GetLastError(), (DWORD)ERROR_WRITE_FAULT);
        for (int expected : {kHostDone, kHostDone, kHostRefused}) {
            RvoEncodedFrame f;
            ASSERT_TRUE(EncodeFrame(rvo::JpegBlobs, size, frame.data(), 24, nullptr, 0, f));
            ASSERT_NE(f.hBlob, nullptr);
            EXPECT_EQ(writer.Append(f), expected);
            EXPECT_EQ(f.hBlob, nullptr);
        }
    }
    CRvoFile file;
    ASSERT_TRUE(file.Open(rvotest::Wide(path).c_str(), CFile::modeRead | CFile::shareDenyWrite));
    EXPECT_EQ(file.GetFrameCount(), 2);
}

// Where the first damage in frame order stops a run, and what it says, must
// not depend on which thread met it first.
TEST(Threads, TheFirstFailingFrameStopsEveryThreadCountWithTheSameMessage) {
    const int w = 32, h = 24, n = 15, nBad = 9;
    std::vector<std::vector<uint32_t>> frames;
    for (int k = 0; k < n; k++) frames.push_back(rvotest::MakeFrame(w, h, Content::Natural, (uint32_t)k));

    // A packed file whose record nBad claims another pixel count; a JPEG file
    // whose frame-area blob nBad has a colour stream that is no JPEG.
    const std::string packed = ScratchPath("damaged-packed.rvo");
    std::vector<uint8_t> bytes = WrittenByCommand8(packed, "packed", w, h, frames);
    size_t at = 512;
    for (int k = 0; k < nBad; k++) at += LoadLe32(&bytes[at + 4]);
    bytes[at + 12] ^= 1;
    rvotest::WriteAll(packed, bytes);
    const std::string jpeg = ScratchPath("damaged-jpeg.rvo");
    bytes = WrittenByCommand8(jpeg, "jpeg", w, h, frames);
    at = 160;
    for (int k = 0; k < nBad; k++) at += 20 + LoadLe32(&bytes[at + 12]) + LoadLe32(&bytes[at + 16]);
    const size_t colourAt = at + 20 + LoadLe32(&bytes[at + 16]);
    // No start-of-image marker, in both copies of the picture (the frame area's and the index record's).
    size_t indexAt = 0;
    {
        CRvoFile r;   // the index record's copy of the same picture
        ASSERT_TRUE(r.Open(rvotest::Wide(jpeg).c_str(), CFile::modeRead | CFile::shareDenyWrite));
        ASSERT_EQ(r.GetEntry(nBad)->m_dwBlobOffset, at);
        indexAt = (size_t)r.GetEntry(nBad)->m_nIndexBlobAt;
    }
    for (size_t i = 0; i < 4; i++) bytes[colourAt + i] = bytes[indexAt + (colourAt - at) + i] = 0;
    rvotest::WriteAll(jpeg, bytes);

    // Encoding: frame nBad the JPEG codec cannot compress (noise at 16x16), and
    // PNG inputs of which nBad is no PNG.
    std::vector<std::vector<uint32_t>> tiny;
    for (int k = 0; k < n; k++) tiny.push_back(rvotest::MakeFrame(16, 16, k == nBad ? Content::Noise : Content::Flat));
    const std::string tinyInput = RawInput("tiny.raw", tiny);
    std::string pngs;
    for (int k = 0; k < n; k++) {
        const std::string png = ScratchPath("in" + std::to_string(k) + ".png");
        if (k == nBad) rvotest::WriteAll(png, {'n', 'o', 't'});
        else WritePng(png, frames[(size_t)k].data(), w, h, w);
        pngs += " '" + png + "'";
    }

    struct Case {
        const char* what;
        std::string args;   // before --threads
        std::string input;
        std::string product;    // a file that must come out the same, or ""
        std::string expected;   // in the message
    };
    const std::string out = ScratchPath("out.rvo");
    const Case cases[] = {
        {"verify packed", "verify '" + packed + "'", "/dev/null", "", "frame 9 does not decode"},
        {"decode packed", "decode -o - '" + packed + "'", "/dev/null", "stdout", "frame 9 does not decode"},
        {"verify jpeg", "verify '" + jpeg + "'", "/dev/null", "", "frame 9 does not decode"},
        {"decode jpeg", "decode -o - '" + jpeg + "'", "/dev/null", "stdout", "frame 9 does not decode"},
        {"encode jpeg", "encode --mode jpeg --size 16x16 -o '" + out + "' -", tinyInput, out, "frame 9 failed"},
        {"encode pngs", "encode --mode packed -o '" + out + "'" + pngs, "/dev/null", out, "in9.png"},
    };
    for (const Case& c : cases) {
        ToolRun first;
        std::vector<uint8_t> firstProduct;
        for (int t : kThreadCounts) {
            const std::string stdoutPath = ScratchPath("case.out");
            const ToolRun run = RunRvo(c.args + " --threads " + std::to_string(t), c.input, stdoutPath);
            const std::vector<uint8_t> product =
                c.product.empty() ? std::vector<uint8_t>() : ReadAll(c.product == "stdout" ? stdoutPath : c.product);
            EXPECT_EQ(run.nExit, 1) << c.what << ", " << t << " threads: " << run.strErrors;
            EXPECT_NE(run.strErrors.find(c.expected), std::string::npos) << c.what << ", " << t << ": " << run.strErrors;
            if (t == 1) {
                first = run;
                firstProduct = product;
                continue;
            }
            EXPECT_EQ(run.strErrors, first.strErrors) << c.what << ", " << t << " threads";
            EXPECT_TRUE(product == firstProduct) << c.what << ", " << t << " threads: what was written differs";
        }
        if (c.product == "stdout") {
            EXPECT_EQ(firstProduct.size(), (size_t)nBad * w * h * 4) << c.what;
        }
    }
}

// The ordered work itself: items taken in order whatever order the workers
// finish in, the window never exceeded, and the first failure in order
// rethrown whichever item failed first in time.
TEST(Threads, OrderedWorkTakesItemsInOrderAndStopsAtTheFirstFailure) {
    struct Item {
        long long k = -1;
    };
    struct Case {
        long long nItems;
        long long nMakeThrows;   // -1: never
        long long nWorkThrows;
        long long nTakeStops;
        long long nExpectTaken;
        bool bThrows;
    };
    const Case cases[] = {
        {40, -1, -1, -1, 40, false},   // all of them
        {0, -1, -1, -1, 0, false},     // an empty sequence
        {40, 17, -1, -1, 17, true},    // making item 17 fails
        {40, -1, 17, -1, 17, true},    // working on item 17 fails, while later ones succeed quickly
        {40, -1, -1, 17, 18, false},   // the taker stops after item 17
    };
    for (const Case& c : cases) {
        for (int t : kThreadCounts) {
            std::vector<long long> taken;
            std::atomic<long long> nMade{0};
            long long nMaxInFlight = 0;
            bool bThrew = false;
            try {
                RunOrdered<Item>(
                    t, 2 * t,
                    [&](long long k, Item& item) {
                        if (k >= c.nItems) return false;
                        if (k == c.nMakeThrows) throw std::runtime_error("make " + std::to_string(k));
                        item.k = k;
                        nMade = k + 1;
                        return true;
                    },
                    [&](int, Item& item) {
                        // Early items take longest, so later ones finish first.
                        std::this_thread::sleep_for(std::chrono::microseconds(item.k < 20 ? 300 - 10 * item.k : 0));
                        if (item.k == c.nWorkThrows) throw std::runtime_error("work " + std::to_string(item.k));
                    },
                    [&](long long k, Item& item) {
                        EXPECT_EQ(item.k, k);
                        taken.push_back(k);
                        nMaxInFlight = std::max(nMaxInFlight, nMade - k);
                        return k != c.nTakeStops;
                    });
            } catch (const std::runtime_error& e) {
                bThrew = true;
                EXPECT_NE(std::string(e.what()).find(std::to_string(c.nMakeThrows >= 0 ? c.nMakeThrows : c.nWorkThrows)),
                          std::string::npos)
                    << e.what();
            }
            EXPECT_EQ(bThrew, c.bThrows) << t << " threads";
            ASSERT_EQ((long long)taken.size(), c.nExpectTaken) << t << " threads";
            for (size_t i = 0; i < taken.size(); i++) EXPECT_EQ(taken[i], (long long)i);
            EXPECT_LE(nMaxInFlight, t == 1 ? 1 : 2 * t) << t << " threads";
        }
    }
}

}   // namespace
