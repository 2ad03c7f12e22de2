// WxH parsing for --size options.
#include "tools/rvo/SizeOption.h"

#include <cstdlib>

#include "container/Limits.h"

bool ParseFrameSize(const std::string& text, FrameSize& size) {
    size_t x = text.find_first_of("xX");
    if (x == std::string::npos || x == 0 || x + 1 >= text.size()) return false;
    std::string w = text.substr(0, x), h = text.substr(x + 1);
    for (const std::string* part : {&w, &h}) {
        if (part->size() > 6 || part->find_first_not_of("0123456789") != std::string::npos) return false;
    }
    long cx = std::strtol(w.c_str(), nullptr, 10), cy = std::strtol(h.c_str(), nullptr, 10);
    if (cx <= 0 || cy <= 0 || !rvo::FrameSizeAllowed(cx, cy)) return false;
    size.nWidth = (int)cx;
    size.nHeight = (int)cy;
    return true;
}

CLI::Validator FrameSizeValidator() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            FrameSize size;
            if (ParseFrameSize(text, size)) return {};
            return "expected WIDTHxHEIGHT, each from 1 to " + std::to_string(rvo::kMaxFrameDimension) +
                   " and at most " + std::to_string(rvo::kMaxFramePixels) + " pixels, got '" + text + "'";
        },
        "WxH");
}
