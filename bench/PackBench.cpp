// Times the two rules that choose the record of a packed frame, standard (the
// module's own) and smallest, on the 1920 x 1080 graphics and natural clips of
// ThreadsBench (60 frames, seeds 0, 1, 2 ...): the records built in memory
// (mean size over the clip, record types, time per frame), `rvo encode --pack`
// of the clip with each rule, and `rvo decode` of both files, in turns.
// Usage: PackBench [folder for scratch files, default .] [rvo program, default ../rvo beside bench/]
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/BenchSupport.h"
#include "container/PackedRecord.h"
#include "decoder/PackedDecode.h"
#include "encoder/PackedBuilder.h"
#include "platform/Cpu.h"
#include "platform/RawFile.h"
#include "tests/support/SyntheticFrames.h"

namespace {

namespace fs = std::filesystem;
using rvotest::Content;

constexpr int kW = 1920, kH = 1080;
constexpr int kFrames = 60;
constexpr int kTimedFrames = 4;   // frames cycled when one record is timed in memory
constexpr size_t kFrameBytes = 4 * (size_t)kW * kH;
const rvobench::Rounds kTurns{3, 0, 1, 1};   // a call is a whole movie: three rounds of one call each
const SIZE kSize{kW, kH};

struct ClipRecords {
    double dMeanBytes = 0;
    int nTypes[3] = {0, 0, 0};   // raw, alpha runs, colour runs
    bool bOk = true;
};

int TypeIndex(DWORD dwTag) {
    return dwTag == rvo::PackedRaw ? 0 : dwTag == rvo::PackedAlphaRuns ? 1
                                                                       : 2;
}

// Every frame of the clip built by the rule, checked as the reader checks it
// and expanded back to its pixels; the frames are also written to pIn as raw BGRA.
ClipRecords BuildClip(Content c, RvoPackRule rule, BYTE* pRecord, FILE* pIn) {
    ClipRecords r;
    std::vector<DWORD> back((size_t)kW * kH);
    double dTotal = 0;
    for (int k = 0; k < kFrames && r.bOk; k++) {
        const std::vector<uint32_t> frame = rvotest::MakeFrame(kW, kH, c, (uint32_t)k);
        const DWORD n = BuildPackedRecord(pRecord, frame.data(), kW, kSize, rule);
        r.bOk = n && CheckPackedRecord(pRecord, (DWORD)back.size(), n);
        if (r.bOk) DecodePackedRecord(pRecord, back.data());
        r.bOk = r.bOk && std::memcmp(back.data(), frame.data(), kFrameBytes) == 0;
        if (pIn) r.bOk = r.bOk && std::fwrite(frame.data(), 4, frame.size(), pIn) == frame.size();
        DWORD dwTag;
        std::memcpy(&dwTag, pRecord, 4);
        r.nTypes[TypeIndex(dwTag)]++;
        dTotal += n;
    }
    r.dMeanBytes = dTotal / kFrames;
    return r;
}

std::string TypesNote(const ClipRecords& r) {
    char note[120];
    std::snprintf(note, sizeof note, "%.2f MB/frame (%d raw, %d alpha runs, %d colour runs)", r.dMeanBytes / 1e6,
                  r.nTypes[0], r.nTypes[1], r.nTypes[2]);
    return note;
}

// False when a check fails.
bool BenchContent(const std::string& rvo, const std::string& dir, Content c) {
    std::printf("%s\n", rvotest::ContentName(c));
    const std::string input = dir + "/pack-bench-input.bgra";
    const std::string fileDefault = dir + "/pack-bench-default.rvo", fileStandard = dir + "/pack-bench-standard.rvo",
                      fileSmallest = dir + "/pack-bench-smallest.rvo", back = dir + "/pack-bench-back.bgra";
    const size_t nCap = (size_t)rvo::MaxPackedRecordBytes((ULONGLONG)kW * kH);
    BYTE* pRecord = static_cast<BYTE*>(AllocAligned(nCap));

    FILE* pIn = std::fopen(input.c_str(), "wb");
    const ClipRecords standard = BuildClip(c, RvoPackRule::Standard, pRecord, pIn);
    bool bOk = pIn && std::fclose(pIn) == 0;
    const ClipRecords smallest = BuildClip(c, RvoPackRule::Smallest, pRecord, nullptr);
    bOk = rvobench::Verified(bOk && standard.bOk && smallest.bOk, "records",
                             "a record does not pass the check or expand to its frame");

    if (bOk) {
        std::vector<std::vector<uint32_t>> frames;
        for (int k = 0; k < kTimedFrames; k++) frames.push_back(rvotest::MakeFrame(kW, kH, c, (uint32_t)k));
        auto Build = [&](RvoPackRule rule) {
            return [&, rule](int i) { BuildPackedRecord(pRecord, frames[(size_t)(i % kTimedFrames)].data(), kW, kSize, rule); };
        };
        const rvobench::Timing t = rvobench::Time(Build(RvoPackRule::Smallest), Build(RvoPackRule::Standard));
        rvobench::PrintRow("build record, standard", {t.dBaseSeconds, 0, t.nCalls}, kFrameBytes, "",
                           TypesNote(standard).c_str());
        const std::string note = TypesNote(smallest) + ", " +
                                 std::to_string(smallest.dMeanBytes / standard.dMeanBytes).substr(0, 5) +
                                 " of standard's size";
        rvobench::PrintRow("build record, smallest", t, kFrameBytes, "standard", note.c_str());
    }
    FreeAligned(pRecord);

    auto Encode = [&](const char* pszPack, const std::string& out) {
        std::vector<std::string> args{"encode", "--mode", "packed", "--size", "1920x1080", "--threads", "1", "-o", out};
        if (pszPack) args.insert(args.begin() + 3, {"--pack", pszPack});
        args.push_back("-");
        return rvobench::RunTool(rvo, args, input.c_str(), "/dev/null");
    };
    // One thread reads and expands each record in turn; on every core (rvo
    // decode's default) the reads of one worker overlap the expansion of another.
    auto Decode = [&](const std::string& file, const char* pszOut, const char* pszThreads = "1") {
        return rvobench::RunTool(rvo, {"decode", "--threads", pszThreads, file, "-o", "-"}, "/dev/null", pszOut);
    };
    bOk = bOk && rvobench::Verified(Encode(nullptr, fileDefault) && Encode("standard", fileStandard) &&
                                        Encode("smallest", fileSmallest),
                                    "rvo encode", "failed");
    bOk = bOk && rvobench::Verified(rvobench::SameFile(fileDefault, fileStandard), "rvo encode --pack standard",
                                    "the file differs from the one written without --pack");
    bOk = bOk && rvobench::Verified(Decode(fileStandard, back.c_str()) && rvobench::SameFile(back, input) &&
                                        Decode(fileSmallest, back.c_str()) && rvobench::SameFile(back, input),
                                    "rvo decode", "failed, or the frames differ from the input");
    std::remove(back.c_str());
    std::remove(fileDefault.c_str());
    if (bOk) {
        std::error_code ec;
        const double dStandardMB = (double)fs::file_size(fileStandard, ec) / 1e6;
        const double dSmallestMB = (double)fs::file_size(fileSmallest, ec) / 1e6;
        bool bRan = true;
        const rvobench::Timing enc = rvobench::Time([&](int) { bRan = Encode("smallest", fileSmallest) && bRan; },
                                                    [&](int) { bRan = Encode("standard", fileStandard) && bRan; },
                                                    kTurns);
        const rvobench::Timing dec = rvobench::Time([&](int) { bRan = Decode(fileSmallest, "/dev/null") && bRan; },
                                                    [&](int) { bRan = Decode(fileStandard, "/dev/null") && bRan; },
                                                    kTurns);
        char note[160];
        std::snprintf(note, sizeof note, "file %.0f MB%s", dStandardMB, bRan ? "" : " (A RUN FAILED)");
        rvobench::PrintRow("rvo encode --pack standard", {enc.dBaseSeconds / kFrames, 0, enc.nCalls}, kFrameBytes,
                           "", note);
        std::snprintf(note, sizeof note, "file %.0f MB", dSmallestMB);
        rvobench::PrintRow("rvo encode --pack smallest", {enc.dSeconds / kFrames, enc.dBaseSeconds / kFrames, enc.nCalls},
                           kFrameBytes, "standard", note);
        rvobench::PrintRow("rvo decode, standard's file", {dec.dBaseSeconds / kFrames, 0, dec.nCalls}, kFrameBytes);
        std::snprintf(note, sizeof note, "%.2fx the frames/s of standard's file", dec.dBaseSeconds / dec.dSeconds);
        rvobench::PrintRow("rvo decode, smallest's file", {dec.dSeconds / kFrames, 0, dec.nCalls}, kFrameBytes, "",
                           note);
        const std::string strCores = std::to_string(std::max(1u, std::thread::hardware_concurrency()));
        const rvobench::Timing all =
            rvobench::Time([&](int) { bRan = Decode(fileSmallest, "/dev/null", strCores.c_str()) && bRan; },
                           [&](int) { bRan = Decode(fileStandard, "/dev/null", strCores.c_str()) && bRan; }, kTurns);
        const std::string strStandard = "rvo decode, standard's file, " + strCores + " threads";
        const std::string strSmallest = "rvo decode, smallest's file, " + strCores + " threads";
        rvobench::PrintRow(strStandard.c_str(), {all.dBaseSeconds / kFrames, 0, all.nCalls}, kFrameBytes);
        std::snprintf(note, sizeof note, "%.2fx the frames/s of standard's file", all.dBaseSeconds / all.dSeconds);
        rvobench::PrintRow(strSmallest.c_str(), {all.dSeconds / kFrames, 0, all.nCalls}, kFrameBytes, "", note);
        bOk = bRan;
    }
    std::remove(fileStandard.c_str());
    std::remove(fileSmallest.c_str());
    std::remove(input.c_str());
    return bOk;
}

}   // namespace

int main(int argc, char** argv) {
    DetectSse2();
    const std::string dir = argc > 1 ? argv[1] : ".";
    const std::string rvo = rvobench::FindRvoProgram(argc, argv, "PackBench");
    if (rvo.empty()) return 1;
    std::printf(
        "PackBench: packed records by rule on %d x %d, %d frames per clip, SSE2 %s; %s with 1 thread, "
        "fastest of %d turns\n",
        kW, kH, kFrames, g_bSse2 ? "on" : "off", rvo.c_str(), kTurns.nRounds);
    bool bOk = true;
    for (Content c : {Content::Graphics, Content::Natural}) bOk = BenchContent(rvo, dir, c) && bOk;
    return bOk ? 0 : 1;
}
