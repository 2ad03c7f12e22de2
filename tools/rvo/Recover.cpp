// rvo recover: the finished file rebuilt from the whole frames of a file whose
// writer stopped before closing it (killed, crashed, power lost).
#include <memory>
#include <string>

#include "tools/rvo/Commands.h"
#include "tools/rvo/RecoverReport.h"
#include "tools/rvo/SizeOption.h"

namespace {

struct RecoverOptions {
    std::string strInput;
    std::string strSize;
    OutputTarget target;
    bool bDropDamaged = false;
};

void RunRecover(const RecoverOptions& o) {
    SIZE size{0, 0};
    if (!o.strSize.empty()) {
        FrameSize parsed;
        ParseFrameSize(o.strSize, parsed);   // the option's validator has accepted it
        size = SIZE{parsed.nWidth, parsed.nHeight};
    }
    PrintRecoverReport(
        RecoverMovie(o.strInput, o.target, o.bDropDamaged, o.strSize.empty() ? nullptr : &size, "--size WxH"));
}

}   // namespace

void RegisterRecover(CLI::App& app) {
    auto opts = std::make_shared<RecoverOptions>();
    CLI::App* cmd = app.add_subcommand("recover", "Rebuild an RVO file whose writer stopped before closing it.");
    cmd->footer(
        "Rebuild the finished file from the whole frames of an RVO file whose writer\n"
        "stopped before closing it (rvo info and rvo verify call such a file\n"
        "unfinished). JPEG blobs are each checked and decoded, packed records checked\n"
        "as the reader checks them, raw records counted from the frame size; a partial\n"
        "last frame is dropped. A damaged frame does not end the walk: it goes on at\n"
        "the next frame that passes the checks, and the damaged frame keeps its place\n"
        "in the movie, filled with the previous whole frame (a transparent frame when\n"
        "there is none), or is left out with --drop-damaged; each is named on stderr.\n"
        "The result is the file the writer would have left after those frames.\n"
        "On a finished JPEG movie, recover does what rvo repair does: a damaged copy\n"
        "of a picture is mended from the whole one (to FILE-recovered.rvo).\n"
        "\n"
        "The input is never written over unless asked: the result goes to FILE with\n"
        "-recovered before its extension (clip.rvo: clip-recovered.rvo), or to -o;\n"
        "an existing file there is replaced only with --force. --in-place replaces\n"
        "FILE and keeps the original as FILE.bak (unless --no-backup). The new file is\n"
        "written beside its destination and renamed onto it, so a failure leaves\n"
        "every file as it was.\n"
        "\n"
        "Exit status: 0 when every frame came back intact, 1 when a frame was\n"
        "replaced or dropped or recovery failed, 2 for a usage error.\n"
        "\n"
        "--size is needed only for raw and packed files whose header does not record\n"
        "the frame size (files written before the module recorded it).\n"
        "\n"
        "Examples:\n"
        "  rvo recover clip.rvo                 # writes clip-recovered.rvo\n"
        "  rvo recover --in-place clip.rvo      # clip.rvo rebuilt, the original in clip.rvo.bak\n"
        "  rvo recover --size 1280x720 -o clip-fixed.rvo clip.rvo");
    cmd->add_option("FILE", opts->strInput, "the unfinished RVO file")->required();
    auto* out = cmd->add_option("-o,--output", opts->target.strOutput,
                                "where to write the finished file (default: FILE-recovered with FILE's extension)");
    cmd->add_flag("--in-place", opts->target.bInPlace, "replace FILE, keeping the original as FILE.bak")->excludes(out);
    cmd->add_flag("--no-backup", opts->target.bNoBackup, "with --in-place: keep no FILE.bak");
    cmd->add_flag("--force", opts->target.bForce, "replace an existing output file (or FILE.bak)");
    cmd->add_flag("--drop-damaged", opts->bDropDamaged,
                  "leave damaged frames out instead of filling their places with the previous whole frame");
    cmd->add_option("--size", opts->strSize, "frame size WxH of a raw or packed file that does not record it")
        ->check(FrameSizeValidator());
    cmd->callback([opts] {
        if (opts->target.bNoBackup && !opts->target.bInPlace)
            throw CLI::ValidationError("--no-backup", "only with --in-place");
        RunRecover(*opts);
    });
}
