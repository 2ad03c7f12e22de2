// rvo info: the header fields and index entries of an RVO file, as a table or JSON.
#include <algorithm>
#include <cstdio>
#include <string>

#include "container/PackedRecord.h"
#include "container/RvoFormat.h"
#include "platform/ByteOrder.h"
#include "platform/CString.h"
#include "tools/rvo/Commands.h"
#include "tools/rvo/ToolSupport.h"

namespace {

struct EntryView {
    LONG nKind;
    std::string strName;
    LONG nStartFrame;
    LONG nLastFrame;
    DWORD dwFlags;
    DWORD dwBlobOffset;
    unsigned long long nBlobBytes;   // the blob's file form: 20-byte header and both streams; 0 = none
};

EntryView ViewOf(const RvoIndexEntry& e) {
    return EntryView{e.m_nKind, ToUtf8(e.m_strName.Str()), e.m_nStartFrame, e.m_nLastFrame,
                     e.m_dwFlags, e.m_dwBlobOffset, e.m_dwIndexBlobBytes};
}

// Frames an entry shows: its start frame alone when its last frame is 0 or -1.
std::string FrameRange(const EntryView& e) {
    if (e.nLastFrame == 0 || e.nLastFrame == -1 || e.nLastFrame == e.nStartFrame)
        return std::to_string(e.nStartFrame);
    return std::to_string(e.nStartFrame) + "-" + std::to_string(e.nLastFrame);
}

const char* KindName(LONG nKind) {
    switch (nKind) {
    case 1: return "frame";
    case 2: return "image";
    default: return "?";
    }
}

void PrintJson(const CRvoFile& f, unsigned long long tableOffset, const RvoRecordTypes& t) {
    std::printf(
        "{\"magic\": %s, \"mode\": %d, \"width\": %d, \"height\": %d, \"entryCount\": %d, "
        "\"frameCount\": %d, \"indexOffset\": %u, \"sizeTableBytes\": %u, "
        "\"sizeTableOffset\": %llu, ",
        JsonString(std::string(f.m_header.m_szMagic, sizeof f.m_header.m_szMagic)).c_str(), f.m_header.m_nMode, f.m_header.m_nWidth,
        f.m_header.m_nHeight, f.m_header.m_nEntryCount, f.m_header.m_nFrameCount, f.m_header.m_dwIndexOffset, f.m_header.m_dwSizeTableBytes,
        tableOffset);
    std::printf("\"entries\": [");
    for (int i = 0; i < f.GetEntryCount(); i++) {
        EntryView e = ViewOf(*f.GetEntry(i));
        std::printf(
            "%s\n  {\"kind\": %d, \"name\": %s, \"startFrame\": %d, \"lastFrame\": %d, "
            "\"flags\": %u, \"blobOffset\": %u, \"blobSize\": %llu}",
            i ? "," : "", e.nKind, JsonString(e.strName).c_str(), e.nStartFrame, e.nLastFrame,
            e.dwFlags, e.dwBlobOffset, e.nBlobBytes);
    }
    std::printf("%s]", f.GetEntryCount() ? "\n" : "");
    if (t.bPacked)
        std::printf(
            ", \"recordTypes\": {\"PackedRaw\": %lld, \"PackedAlphaRuns\": %lld, \"PackedColourRuns\": %lld, "
            "\"unreadable\": %lld}",
            t.nRaw, t.nAlphaRuns, t.nColourRuns, t.nUnreadable);
    std::printf("}\n");
}

void PrintTable(const std::string& path, const CRvoFile& f, unsigned long long tableOffset, const RvoRecordTypes& t) {
    std::printf("%s\n", path.c_str());
    std::printf("  magic        %.8s\n", f.m_header.m_szMagic);
    std::printf("  mode         %d (%s)\n", f.m_header.m_nMode, ModeName(f.m_header.m_nMode));
    std::printf("  frame size   %d x %d\n", f.m_header.m_nWidth, f.m_header.m_nHeight);
    std::printf("  frames       %d\n", f.m_header.m_nFrameCount);
    std::printf("  entries      %d\n", f.m_header.m_nEntryCount);
    std::printf("  index offset %u\n", f.m_header.m_dwIndexOffset);
    std::printf("  size table   %u bytes at %llu\n", f.m_header.m_dwSizeTableBytes, tableOffset);
    if (t.bPacked) {
        std::printf("  records      %lld PackedRaw, %lld PackedAlphaRuns, %lld PackedColourRuns", t.nRaw,
                    t.nAlphaRuns, t.nColourRuns);
        if (t.nUnreadable) std::printf(", %lld unreadable", t.nUnreadable);
        std::printf("\n");
    }
    if (f.GetEntryCount() == 0) return;
    std::printf("  %6s  %-5s  %-24s %-13s %5s %12s %10s\n", "#", "kind", "name", "frames", "flags",
                "blob offset", "blob size");
    for (int i = 0; i < f.GetEntryCount(); i++) {
        EntryView e = ViewOf(*f.GetEntry(i));
        std::printf("  %6d  %-5s  %-24s %-13s %5u %12u %10llu\n", i, KindName(e.nKind), e.strName.c_str(),
                    FrameRange(e).c_str(), e.dwFlags, e.dwBlobOffset, e.nBlobBytes);
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
        unsigned long long tableOffset = ((unsigned long long)file->m_header.m_dwSizeTableOffsetHigh << 32) | file->m_header.m_dwSizeTableOffsetLow;
        const RvoRecordTypes types = file->CountRecordTypes();
        if (opts->bJson)
            PrintJson(*file, tableOffset, types);
        else
            PrintTable(opts->path, *file, tableOffset, types);
        file->Close(FALSE);
    });
}
