// Frame file name patterns of rvo decode: checked before use, since the
// pattern is handed to snprintf.
#include "tools/rvo/FramePattern.h"

#include <cstdio>
#include <vector>

bool IsFramePattern(const std::string& pattern) {
    int nConversions = 0;
    for (size_t i = 0; i < pattern.size(); i++) {
        if (pattern[i] != '%') continue;
        if (i + 1 < pattern.size() && pattern[i + 1] == '%') {
            i++;
            continue;
        }
        size_t j = i + 1;
        if (j < pattern.size() && pattern[j] == '0') j++;
        size_t digits = 0;
        while (j < pattern.size() && pattern[j] >= '0' && pattern[j] <= '9' && digits < 2) j++, digits++;
        if (j >= pattern.size() || pattern[j] != 'd') return false;
        nConversions++;
        i = j;
    }
    return nConversions == 1;
}

std::string FrameFileName(const std::string& pattern, long long k) {
    // A width of up to 99 digits, or the ten digits of an int, past the pattern.
    std::vector<char> buf(pattern.size() + 128);
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(buf.data(), buf.size(), pattern.c_str(), (int)k);
#pragma GCC diagnostic pop
    return buf.data();
}
