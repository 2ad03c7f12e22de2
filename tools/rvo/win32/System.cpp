// The tool's system needs over Win32 and the C runtime: binary standard
// streams, console checks, UTF-8 names opened as UTF-16, FormatMessageW.
#include "tools/rvo/System.h"

#include <fcntl.h>
#include <io.h>
#include <windows.h>

namespace {

// UTF-8 to UTF-16 and back (the module's own platform types clash with <windows.h>).
std::wstring WidePath(const std::string& s) {
    const int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), nullptr, 0);
    std::wstring w((size_t)n, L'\0');
    if (n) MultiByteToWideChar(CP_UTF8, 0, s.data(), (int)s.size(), w.data(), n);
    return w;
}

std::string Utf8(const std::wstring& w) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), nullptr, 0, nullptr, nullptr);
    std::string s((size_t)n, '\0');
    if (n) WideCharToMultiByte(CP_UTF8, 0, w.data(), (int)w.size(), s.data(), n, nullptr, nullptr);
    return s;
}

// Ctrl+C and Ctrl+Break end the process at once, as SIGINT does on Linux: what
// the module has written stays on disk, and the movie is left for rvo recover.
BOOL WINAPI OnConsoleBreak(DWORD dwType) {
    if (dwType != CTRL_C_EVENT && dwType != CTRL_BREAK_EVENT) return FALSE;
    TerminateProcess(GetCurrentProcess(), 130);
    return TRUE;
}

bool IsConsole(DWORD nStd) {
    DWORD dwMode = 0;
    return GetConsoleMode(GetStdHandle(nStd), &dwMode) != 0;
}

}   // namespace

void PrepareProcess() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    // Messages end in "\n" as on Linux, not "\r\n".
    _setmode(_fileno(stderr), _O_BINARY);
    SetConsoleCtrlHandler(OnConsoleBreak, TRUE);
}

bool StdoutIsTerminal() { return IsConsole(STD_OUTPUT_HANDLE); }
bool StderrIsTerminal() { return IsConsole(STD_ERROR_HANDLE); }
void IgnoreBrokenPipe() {}
unsigned long ProcessId() { return GetCurrentProcessId(); }

FILE* OpenFile(const std::string& path, const char* mode) {
    SetLastError(0);
    return _wfopen(WidePath(path).c_str(), WidePath(mode).c_str());
}

std::filesystem::path FsPath(const std::string& path) { return std::filesystem::path(WidePath(path)); }

std::string PathText(const std::filesystem::path& path) { return Utf8(path.native()); }

bool FlushToDisk(FILE* f) { return std::fflush(f) == 0 && _commit(_fileno(f)) == 0; }

std::string LastSystemError() {
    DWORD dwError = GetLastError();
    if (dwError == 0) dwError = ERROR_GEN_FAILURE;
    wchar_t* pszText = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, dwError, 0, reinterpret_cast<wchar_t*>(&pszText), 0, nullptr);
    std::wstring text;
    if (n && pszText) text.assign(pszText, pszText + n);
    if (pszText) LocalFree(pszText);
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L'.' || text.back() == L' '))
        text.pop_back();
    return text.empty() ? "system error " + std::to_string(dwError) : Utf8(text);
}
