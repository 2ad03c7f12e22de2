// The tool's entry point on Windows: the command line as UTF-16 (wmain), each
// argument passed on as UTF-8, so any file name reaches the tool whole.
#include <windows.h>

#include <string>
#include <vector>

#include "tools/rvo/System.h"

int wmain(int argc, wchar_t** argv) {
    std::vector<std::string> args;
    for (int i = 0; i < argc; i++) {
        const int n = WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, nullptr, 0, nullptr, nullptr);
        std::string a(n > 0 ? (size_t)n - 1 : 0, '\0');
        if (n > 1) WideCharToMultiByte(CP_UTF8, 0, argv[i], -1, a.data(), n, nullptr, nullptr);
        args.push_back(a);
    }
    std::vector<char*> ptrs;
    for (std::string& a : args) ptrs.push_back(a.data());
    ptrs.push_back(nullptr);
    return RunTool(argc, ptrs.data());
}
