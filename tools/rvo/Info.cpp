// rvo info: the header fields and index entries of an RVO file, as a table or JSON.
#include <algorithm>
#include <cstdio>
#include <string>

#include "tools/rvo/Commands.h"
#include "tools/rvo/InfoReport.h"
#include "tools/rvo/ToolSupport.h"

namespace {

// Frames an entry shows: its start frame alone when its last frame is 0 or -1.
std::string FrameRange(const Json& e) {
    const long long nStart = e["startFrame"], nLast = e["lastFrame"];
    if (nLast == 0 || nLast == -1 || nLast == nStart) return std::to_string(nStart);
    return std::to_string(nStart) + "-" + std::to_string(nLast);
}

const char* KindName(long long nKind) {
    switch (nKind) {
    case 1: return "frame";
    case 2: return "image";
    default: return "?";
    }
}

void PrintTable(const std::string& path, const Json& r) {
    const int nMode = r["mode"];
    std::printf("%s\n", path.c_str());
    std::printf("  magic        %s\n", r["magic"].get<std::string>().c_str());
    std::printf("  mode         %d (%s)\n", nMode, ModeName(nMode));
    std::printf("  frame size   %d x %d\n", r["width"].get<int>(), r["height"].get<int>());
    std::printf("  frames       %d\n", r["frameCount"].get<int>());
    std::printf("  entries      %d\n", r["entryCount"].get<int>());
    std::printf("  index offset %u\n", r["indexOffset"].get<unsigned>());
    std::printf("  size table   %u bytes at %llu\n", r["sizeTableBytes"].get<unsigned>(),
                r["sizeTableOffset"].get<unsigned long long>());
    if (r.contains("recordTypes")) {
        const Json& t = r["recordTypes"];
        std::printf("  records      %lld PackedRaw, %lld PackedAlphaRuns, %lld PackedColourRuns",
                    t["PackedRaw"].get<long long>(), t["PackedAlphaRuns"].get<long long>(),
                    t["PackedColourRuns"].get<long long>());
        if (t["unreadable"].get<long long>()) std::printf(", %lld unreadable", t["unreadable"].get<long long>());
        std::printf("\n");
    }
    const Json& entries = r["entries"];
    if (entries.empty()) return;
    std::printf("  %6s  %-5s  %-24s %-13s %5s %12s %10s\n", "#", "kind", "name", "frames", "flags",
                "blob offset", "blob size");
    for (size_t i = 0; i < entries.size(); i++) {
        const Json& e = entries[i];
        std::printf("  %6d  %-5s  %-24s %-13s %5u %12u %10llu\n", (int)i, KindName(e["kind"]),
                    e["name"].get<std::string>().c_str(), FrameRange(e).c_str(), e["flags"].get<unsigned>(),
                    e["blobOffset"].get<unsigned>(), e["blobSize"].get<unsigned long long>());
    }
}

}   // namespace

void RegisterInfo(CLI::App& app) {
    struct Options {
        std::string path;
        bool bJson = false;
    };
    auto opts = std::make_shared<Options>();
    CLI::App* cmd = app.add_subcommand("info", "Show an RVO file's header and index entries.");
    cmd->footer("Example:\n  rvo info movie.rvo\n  rvo info --json movie.rvo | jq .frameCount");
    cmd->add_option("FILE", opts->path, "the RVO file")->required();
    cmd->add_flag("--json", opts->bJson, "print one JSON object (machine-readable)");
    cmd->callback([opts] {
        std::unique_ptr<CRvoFile> file = OpenRvoOrFail(opts->path);
        FailIfUnfinished(opts->path);
        const Json report = InfoReport(*file);
        if (opts->bJson)
            std::printf("%s\n", RenderJson(report).c_str());
        else
            PrintTable(opts->path, report);
        file->Close(FALSE);
    });
}
