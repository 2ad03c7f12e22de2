// rvo thumbnail: a PNG picture of a movie for file managers (the freedesktop
// thumbnailer runs it): the first frame with visible content, fitted within
// SIZE x SIZE and laid over a checkerboard where it is transparent.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "plugin/ImageFit.h"
#include "tools/rvo/Commands.h"
#include "tools/rvo/HostSession.h"
#include "tools/rvo/PngFiles.h"
#include "tools/rvo/ToolSupport.h"

namespace {

// Titles and graphics often fade in from nothing; look this far for a frame
// that shows something, then settle for the first.
constexpr long long kFramesSearched = 250;
constexpr int kCheckerSquare = 8;

struct ThumbnailOptions {
    std::string strInput;
    std::string strOutput;
    int nSize = 256;
};

bool AnyVisible(const std::vector<DWORD>& px) {
    return std::any_of(px.begin(), px.end(), [](DWORD p) { return (p >> 24) != 0; });
}

// Straight alpha over light and mid grey squares; the result is opaque.
void OverCheckerboard(std::vector<DWORD>& px, int w, int h) {
    for (int y = 0; y < h; y++)
        for (int x = 0; x < w; x++) {
            DWORD& p = px[(size_t)y * (size_t)w + (size_t)x];
            const unsigned a = p >> 24;
            const unsigned bg = ((x / kCheckerSquare + y / kCheckerSquare) & 1) ? 0x99 : 0xCC;
            DWORD out = 0xFF000000u;
            for (int c = 0; c < 3; c++) {
                const unsigned v = (p >> (8 * c)) & 0xFF;
                out |= (DWORD)((v * a + bg * (255 - a) + 127) / 255) << (8 * c);
            }
            p = out;
        }
}

void RunThumbnail(const ThumbnailOptions& o) {
    const MovieShape shape = ReadMovieShapeOrFail(o.strInput);
    const long long nFrames = shape.nFrames;
    const int cx = shape.nWidth, cy = shape.nHeight;
    if (nFrames == 0 || cx <= 0 || cy <= 0) FailFile(o.strInput, "holds no frames");
    CHostReader reader(o.strInput);
    std::vector<DWORD> frame((size_t)cx * (size_t)cy), first;
    const long long nLook = std::min(nFrames, kFramesSearched);
    for (long long k = 0; k < nLook; k++) {
        const DWORD dwError = reader.ReadFrame(k, frame.data(), cx, cy, false);
        if (dwError)
            FailFile(o.strInput, "frame " + std::to_string(k) + " does not decode (" + DescribeLastError(dwError) + ")");
        if (AnyVisible(frame)) {
            first.clear();
            break;
        }
        if (k == 0) first = frame;
    }
    if (!first.empty()) frame = first;
    // Fitted within the size asked, the aspect ratio kept; never enlarged.
    int w = cx, h = cy;
    if (cx > o.nSize || cy > o.nSize) {
        if (cx >= cy) {
            w = o.nSize;
            h = std::max(1, (int)((long long)cy * o.nSize / cx));
        } else {
            h = o.nSize;
            w = std::max(1, (int)((long long)cx * o.nSize / cy));
        }
    }
    std::vector<DWORD> thumb((size_t)w * (size_t)h);
    FitImage(frame.data(), (unsigned)cx, (unsigned)cy, thumb.data(), (unsigned)w, (unsigned)h);
    OverCheckerboard(thumb, w, h);
    WritePngFile(o.strOutput, EncodePng(o.strOutput, thumb.data(), w, h, w));
}

}   // namespace

void RegisterThumbnail(CLI::App& app) {
    auto opts = std::make_shared<ThumbnailOptions>();
    CLI::App* cmd = app.add_subcommand("thumbnail", "Write a PNG thumbnail of an RVO file (for file managers).");
    cmd->footer(
        "Write a PNG picture of the first frame that shows something (of the first 250;\n"
        "frame 0 when all are transparent), fitted within SIZE x SIZE pixels with its\n"
        "aspect ratio kept (never enlarged) and laid over a grey checkerboard where it\n"
        "is transparent. The desktop's thumbnailer runs it (rvo.thumbnailer).\n"
        "\n"
        "Example:\n"
        "  rvo thumbnail -s 256 movie.rvo movie.png");
    cmd->add_option("-s,--size", opts->nSize, "the largest width and height, in pixels (default 256)")
        ->check(CLI::Range(1, 4096));
    cmd->add_option("INPUT", opts->strInput, "the RVO file")->required();
    cmd->add_option("OUTPUT", opts->strOutput, "the PNG file to write (replaced)")->required();
    cmd->callback([opts] { RunThumbnail(*opts); });
}
