// Frame sizes given on the command line as WxH ("1280x720").
#pragma once

#include <string>

#include <CLI/CLI.hpp>

struct FrameSize {
    int nWidth = 0;
    int nHeight = 0;
};

// True and the size when text is WxH with both within the module's limits.
bool ParseFrameSize(const std::string& text, FrameSize& size);

// A CLI11 validator for WxH options: a usage error (exit 2) otherwise.
CLI::Validator FrameSizeValidator();
