// File names for numbered frames ("frame%04d.png"): a printf pattern with
// exactly one integer conversion.
#pragma once

#include <string>

// True when pattern holds exactly one %d conversion (with an optional 0 flag
// and a width of up to two digits) and otherwise only literal text and %%.
bool IsFramePattern(const std::string& pattern);

// The name of frame k; pattern must pass IsFramePattern.
std::string FrameFileName(const std::string& pattern, long long k);
