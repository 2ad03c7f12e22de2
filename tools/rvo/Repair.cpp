// rvo repair: a finished JPEG movie whose two copies of a picture differ,
// written again with the whole copy in both places.

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "container/RvoFormat.h"
#include "platform/LastError.h"
#include "tools/rvo/Commands.h"
#include "tools/rvo/ToolSupport.h"
#include "tools/rvo/VerifyFile.h"
#include "tools/rvo/System.h"

namespace {

// One damaged copy and the whole copy that replaces it, byte for byte.
struct Mend {
    long long nFrame = 0;
    int nEntry = 0;
    ULONGLONG nFrom = 0, nTo = 0, nBytes = 0;
    std::string strWhat;   // "the frame-area copy from the index copy"
};

// Where the frame-area copy at nAt must end: the next frame-area copy after it, or the index.
ULONGLONG FrameAreaSlotEnd(CRvoFile& file, ULONGLONG nAt) {
    ULONGLONG nEnd = file.Header().m_dwIndexOffset;
    for (int i = 0; i < file.GetEntryCount(); i++) {
        const ULONGLONG n = file.GetEntry(i)->m_dwBlobOffset;
        if (n > nAt && n < nEnd) nEnd = n;
    }
    return nEnd;
}

// The copies of every picture checked; the mends that make both copies whole,
// and the frames that cannot be mended (why, one line each).
void PlanMends(CRvoFile& file, std::vector<Mend>& mends, std::vector<std::string>& unmendable) {
    for (int i = 0; i < file.GetEntryCount(); i++) {
        const RvoIndexEntry* e = file.GetEntry(i);
        const long long nFrame = e->m_nStartFrame;
        const PictureCopies p = CheckPictureCopies(file, i);
        if (p.nCopies == 0 || (p.nWhole >= 0 && !p.bDiffer)) continue;   // no blob, or both copies whole
        const std::string strFrame = "frame " + std::to_string(nFrame) + ": ";
        if (p.nWhole < 0) {
            unmendable.push_back(strFrame + (p.nCopies == 1 ? "its only copy" : "both copies") +
                                 " of its picture are damaged (" + p.strWhy[0] + ")");
            continue;
        }
        if (p.bUndecided) {
            unmendable.push_back(strFrame +
                                 "the two copies of its picture differ and both decode, so which one is "
                                 "damaged cannot be told");
            continue;
        }
        const int nBad = 1 - p.nWhole;
        Mend m;
        m.nFrame = nFrame;
        m.nEntry = i;
        m.nFrom = p.anAt[p.nWhole];
        m.nTo = p.anAt[nBad];
        m.nBytes = p.anBytes[p.nWhole];
        m.strWhat = "the " + p.Name(nBad) + " from the " + p.Name(p.nWhole);
        // The whole copy must fill exactly the place of the damaged one: the
        // index record's copy has the length the index states, the frame-area
        // copy ends where the next blob or the index begins.
        const bool bIndex = m.nTo == e->m_nIndexBlobAt;
        const bool bFits = bIndex ? m.nBytes == e->m_dwIndexBlobBytes : m.nTo + m.nBytes <= FrameAreaSlotEnd(file, m.nTo);
        if (!bFits) {
            unmendable.push_back(strFrame + "the whole copy of its picture is longer than the place of the damaged " +
                                 p.Name(nBad));
            continue;
        }
        mends.push_back(m);
    }
}

// Copies each mend's whole copy over its damaged one in the file at path; false with errno's reason in *pWhy.
bool ApplyMends(const std::string& path, const std::vector<Mend>& mends, std::string* pWhy) {
    FILE* f = OpenFile(path, "r+b");
    if (!f) {
        *pWhy = LastSystemError();
        return false;
    }
    std::vector<unsigned char> buf;
    bool bOk = true;
    for (const Mend& m : mends) {
        buf.resize((size_t)m.nBytes);
        bOk = fseeko(f, (off_t)m.nFrom, SEEK_SET) == 0 && std::fread(buf.data(), 1, buf.size(), f) == buf.size() &&
              fseeko(f, (off_t)m.nTo, SEEK_SET) == 0 && std::fwrite(buf.data(), 1, buf.size(), f) == buf.size();
        if (!bOk) break;
    }
    bOk = bOk && FlushToDisk(f);
    if (!bOk) *pWhy = LastSystemError();
    if (std::fclose(f) != 0 && bOk) {
        *pWhy = LastSystemError();
        bOk = false;
    }
    return bOk;
}

std::string RepairedName(const std::string& strInput) {
    const std::filesystem::path p = FsPath(strInput);
    return (p.parent_path() / (p.stem().string() + "-repaired" + p.extension().string())).string();
}

}   // namespace

void RunRepair(const RepairOptions& o) {
    FailIfUnfinished(o.strInput);
    std::unique_ptr<CRvoFile> file = OpenRvoOrFail(o.strInput);
    const LONG nMode = file->Header().m_nMode;
    if (nMode != rvo::JpegBlobs && nMode != rvo::kModeLegacyBlobs)
        FailFile(o.strInput, std::string("a ") + ModeName(nMode) +
                                 " file, not a JPEG movie: only JPEG movies keep two copies of every picture to "
                                 "repair from; it is unchanged");
    CheckedFrameCount(*file, o.strInput);

    // Nothing is written over an existing file unless asked.
    std::error_code ec;
    const std::string strOut = o.bInPlace            ? o.strInput
                               : o.strOutput.empty() ? RepairedName(o.strInput)
                                                     : o.strOutput;
    const std::string strBackup = o.strInput + ".bak";
    if (!o.bInPlace && std::filesystem::exists(FsPath(strOut), ec) && !o.bForce)
        FailFile(strOut, "already exists; give --force to overwrite it, or --in-place to repair " + o.strInput);
    if (o.bInPlace && !o.bNoBackup && std::filesystem::exists(FsPath(strBackup), ec) && !o.bForce)
        FailFile(strBackup, "already exists; give --force to overwrite it, or --no-backup");

    std::vector<Mend> mends;
    std::vector<std::string> unmendable;
    PlanMends(*file, mends, unmendable);
    if (mends.empty()) {
        file->Close(FALSE);
        if (!unmendable.empty())
            FailFile(o.strInput, unmendable.front() + "; there is no whole copy to repair it from; it is unchanged");
        std::printf("%s: every picture's two copies agree and decode; nothing to repair, nothing written\n",
                    o.strInput.c_str());
        return;
    }

    // The repaired file appears only whole: written beside its destination, checked, then renamed.
    const std::string strTemp = strOut + ".repair-" + std::to_string(ProcessId());
    auto Fail = [&](const std::string& why) {
        std::filesystem::remove(FsPath(strTemp), ec);
        FailFile(o.strInput, "cannot be repaired (" + why + "); it is unchanged");
    };
    std::filesystem::copy_file(FsPath(o.strInput), FsPath(strTemp), std::filesystem::copy_options::overwrite_existing, ec);
    if (ec) Fail("cannot write " + strTemp + ": " + ec.message());
    std::string strWhy;
    if (!ApplyMends(strTemp, mends, &strWhy)) Fail("cannot write " + strTemp + ": " + strWhy);
    file->Close(FALSE);
    {
        std::unique_ptr<CRvoFile> check = OpenRvoOrFail(strTemp);
        for (const Mend& m : mends) {
            const PictureCopies p = CheckPictureCopies(*check, m.nEntry);
            if (p.bDiffer || p.nWhole != 0) Fail("frame " + std::to_string(m.nFrame) + " did not read back whole");
        }
        check->Close(FALSE);
    }
    if (o.bInPlace && !o.bNoBackup) {
        // The original keeps its bytes as FILE.bak (a second name for them where the system allows).
        std::filesystem::remove(FsPath(strBackup), ec);
        std::filesystem::create_hard_link(FsPath(o.strInput), FsPath(strBackup), ec);
        if (ec) std::filesystem::copy_file(FsPath(o.strInput), FsPath(strBackup), ec);
        if (ec) Fail("cannot keep the original as " + strBackup + ": " + ec.message());
    }
    std::filesystem::rename(FsPath(strTemp), FsPath(strOut), ec);
    if (ec) Fail("cannot write " + strOut + ": " + ec.message());

    for (const Mend& m : mends)
        std::printf("%s: frame %lld: %s\n", strOut.c_str(), m.nFrame, m.strWhat.c_str());
    for (const std::string& line : unmendable) std::printf("%s: %s\n", o.strInput.c_str(), line.c_str());
    std::printf("%s: %zu picture%s repaired from the whole copy, written to %s%s\n", o.strInput.c_str(), mends.size(),
                mends.size() == 1 ? "" : "s", strOut.c_str(),
                o.bInPlace && !o.bNoBackup ? (" (the original kept as " + strBackup + ")").c_str() : "");
    std::fflush(stdout);
    if (!unmendable.empty())
        FailFile(strOut, unmendable.front() + "; no whole copy to repair it from" +
                             (unmendable.size() > 1 ? " (and " + std::to_string(unmendable.size() - 1) + " more)" : ""));
}

void RegisterRepair(CLI::App& app) {
    auto opts = std::make_shared<RepairOptions>();
    CLI::App* cmd = app.add_subcommand("repair", "Mend a JPEG movie one of whose two copies of a picture is damaged.");
    cmd->footer(
        "A JPEG movie stores every picture twice, in the frame area and in its index\n"
        "record. rvo repair checks both copies of every picture (as rvo verify does)\n"
        "and writes a file in which each damaged copy is replaced by the whole one, so\n"
        "that both copies of every frame are whole again. The input is never written\n"
        "over unless asked: the output is FILE with -repaired before the extension\n"
        "(an existing one is overwritten only with --force); --in-place replaces FILE\n"
        "and keeps the original as FILE.bak unless --no-backup. The new file is written\n"
        "beside its destination, checked and renamed into place, so it appears only\n"
        "whole. Exit 1 when a picture has no whole copy to repair it from (what could\n"
        "be repaired is still written); nothing is written when nothing is damaged.\n"
        "\n"
        "Examples:\n"
        "  rvo repair movie.rvo                 # writes movie-repaired.rvo\n"
        "  rvo repair --in-place movie.rvo      # keeps movie.rvo.bak");
    cmd->add_option("FILE", opts->strInput, "the finished JPEG movie")->required();
    cmd->add_flag("--force", opts->bForce, "overwrite an existing output (or FILE.bak)");
    cmd->add_flag("--in-place", opts->bInPlace, "replace FILE, keeping the original as FILE.bak");
    cmd->add_flag("--no-backup", opts->bNoBackup, "with --in-place: keep no FILE.bak")->needs("--in-place");
    cmd->callback([opts] { RunRepair(*opts); });
}
