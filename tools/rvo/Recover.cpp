// rvo recover: the finished file rebuilt from the whole frames of a file whose
// writer stopped before closing it (killed, crashed, power lost).
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "recover/Recover.h"
#include "platform/CString.h"
#include "platform/LastError.h"
#include "tools/rvo/Commands.h"
#include "tools/rvo/SizeOption.h"
#include "tools/rvo/ToolSupport.h"

namespace {

struct RecoverOptions {
    std::string strInput;
    std::string strOutput;   // empty: replace the input
    std::string strSize;
};

void RunRecover(const RecoverOptions& o) {
    SIZE size{0, 0};
    if (!o.strSize.empty()) {
        FrameSize parsed;
        ParseFrameSize(o.strSize, parsed);   // the option's validator has accepted it
        size = SIZE{parsed.nWidth, parsed.nHeight};
    }
    const RvoUnfinished scan = ScanRvoOrFail(o.strInput, o.strSize.empty() ? nullptr : &size);
    if (!scan.bUnfinished)
        FailFile(o.strInput, "not an unfinished RVO file (its writer closed it); nothing to recover");
    if (!scan.bSizeKnown)
        FailFile(o.strInput, std::string("unfinished ") + ModeName(scan.nMode) +
                                 " file without a recorded frame size; give it with --size WxH");

    // The new file appears only whole: written beside its destination, then renamed over it.
    const std::string strOut = o.strOutput.empty() ? o.strInput : o.strOutput;
    const std::string strTemp = strOut + ".recover-" + std::to_string(getpid());
    SetLastError(ERROR_SUCCESS);
    const BOOL bWritten = WriteRecovered(FromUtf8(o.strInput).c_str(), scan, FromUtf8(strTemp).c_str());
    const DWORD dwError = GetLastError();
    std::error_code ec;
    if (!bWritten) {
        std::filesystem::remove(strTemp, ec);
        FailFile(o.strInput, "cannot be recovered (" + DescribeLastError(dwError ? dwError : ERROR_WRITE_FAULT) +
                                 "); it is unchanged");
    }
    std::filesystem::rename(strTemp, strOut, ec);
    if (ec) {
        std::filesystem::remove(strTemp, ec);
        FailFile(strOut, "cannot be replaced (" + ec.message() + ")");
    }
    std::printf("%s: recovered %u frames (%s", strOut.c_str(), scan.nFrames, ModeName(scan.nMode));
    if (scan.nWidth > 0 && scan.nHeight > 0) std::printf(" %dx%d", scan.nWidth, scan.nHeight);
    std::printf("), %llu bytes after the last whole frame dropped\n",
                (unsigned long long)(scan.nFileBytes - scan.nFramesEnd));
}

}  // namespace

void RegisterRecover(CLI::App& app) {
    auto opts = std::make_shared<RecoverOptions>();
    CLI::App* cmd = app.add_subcommand("recover", "Rebuild an RVO file whose writer stopped before closing it.");
    cmd->footer(
                "Rebuild the finished file from the whole frames of an RVO file whose writer\n"
                "stopped before closing it (rvo info and rvo verify call such a file\n"
                "unfinished). JPEG blobs are each checked and decoded, packed records checked\n"
                "as the reader checks them, raw records counted from the frame size; a partial\n"
                "last frame is dropped. The result is the file the writer would have left\n"
                "after those frames. Without -o the file is replaced (through a temporary file\n"
                "and a rename); when recovery fails the input is left unchanged.\n"
                "\n"
                "--size is needed only for raw and packed files whose header does not record\n"
                "the frame size (files written before the module recorded it).\n"
                "\n"
                "Examples:\n"
                "  rvo recover clip.rvo\n"
                "  rvo recover --size 1280x720 -o clip-fixed.rvo clip.rvo");
    cmd->add_option("FILE", opts->strInput, "the unfinished RVO file")->required();
    cmd->add_option("-o,--output", opts->strOutput, "where to write the finished file (default: replace FILE)");
    cmd->add_option("--size", opts->strSize, "frame size WxH of a raw or packed file that does not record it")
        ->check(FrameSizeValidator());
    cmd->callback([opts] { RunRecover(*opts); });
}
