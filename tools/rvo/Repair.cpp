// rvo repair: a finished JPEG movie whose two copies of a picture differ,
// written again with the whole copy in both places.
#include <memory>

#include "tools/rvo/Commands.h"
#include "tools/rvo/RecoverReport.h"

void RegisterRepair(CLI::App& app) {
    auto input = std::make_shared<std::string>();
    auto target = std::make_shared<OutputTarget>();
    CLI::App* cmd = app.add_subcommand("repair", "Mend a JPEG movie one of whose two copies of a picture is damaged.");
    cmd->footer(
        "A JPEG movie stores every picture twice, in the frame area and in its index\n"
        "record. rvo repair checks both copies of every picture (as rvo verify does)\n"
        "and writes a file in which each damaged copy is replaced by the whole one, so\n"
        "that both copies of every frame are whole again. The input is never written\n"
        "over unless asked: the output is FILE with -repaired before the extension\n"
        "(an existing one is replaced only with --force); --in-place replaces FILE\n"
        "and keeps the original as FILE.bak unless --no-backup. The new file is written\n"
        "beside its destination, checked and renamed into place, so it appears only\n"
        "whole. Exit 1 when a picture has no whole copy to repair it from (what could\n"
        "be repaired is still written); nothing is written when nothing is damaged.\n"
        "\n"
        "Examples:\n"
        "  rvo repair movie.rvo                 # writes movie-repaired.rvo\n"
        "  rvo repair --in-place movie.rvo      # keeps movie.rvo.bak");
    cmd->add_option("FILE", *input, "the finished JPEG movie")->required();
    cmd->add_flag("--force", target->bForce, "replace an existing output file (or FILE.bak)");
    cmd->add_flag("--in-place", target->bInPlace, "replace FILE, keeping the original as FILE.bak");
    cmd->add_flag("--no-backup", target->bNoBackup, "with --in-place: keep no FILE.bak")->needs("--in-place");
    cmd->callback([input, target] { PrintRecoverReport(RepairMovie(*input, *target)); });
}
