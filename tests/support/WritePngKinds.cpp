// write_png_kinds DIR W H: every PNG kind of the table as DIR/NAME.png, the
// names in table order in DIR/kinds.txt and the pixels they must read as, in
// that order, in DIR/kinds.bgra; for the tool tests run on other systems.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/support/PngKinds.h"

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: write_png_kinds DIR W H\n");
        return 2;
    }
    const std::string dir = argv[1];
    const int w = std::atoi(argv[2]), h = std::atoi(argv[3]);
    FILE* names = std::fopen((dir + "/kinds.txt").c_str(), "w");
    FILE* pixels = std::fopen((dir + "/kinds.bgra").c_str(), "wb");
    if (!names || !pixels || w <= 0 || h <= 0) return 1;
    for (const rvotest::PngKind& kind : rvotest::PngKinds()) {
        if (!rvotest::WritePngKind(dir + "/" + kind.name + ".png", kind, w, h)) return 1;
        const std::vector<uint32_t> px = rvotest::PngKindPixels(kind, w, h);
        std::fprintf(names, "%s\n", kind.name);
        if (std::fwrite(px.data(), 4, px.size(), pixels) != px.size()) return 1;
    }
    return std::fclose(names) == 0 && std::fclose(pixels) == 0 ? 0 : 1;
}
