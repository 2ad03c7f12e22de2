// The tool's system needs over POSIX.
#include "tools/rvo/System.h"

#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>

void PrepareProcess() {
    // A file that reaches the file-size limit (ulimit -f) is a write that fails,
    // which the tool reports and survives, finishing the file; not a kill.
    std::signal(SIGXFSZ, SIG_IGN);
}

bool StdoutIsTerminal() { return isatty(STDOUT_FILENO) == 1; }
bool StderrIsTerminal() { return isatty(STDERR_FILENO) == 1; }
void IgnoreBrokenPipe() { std::signal(SIGPIPE, SIG_IGN); }
unsigned long ProcessId() { return (unsigned long)getpid(); }
FILE* OpenFile(const std::string& path, const char* mode) { return std::fopen(path.c_str(), mode); }
std::filesystem::path FsPath(const std::string& path) { return std::filesystem::path(path); }
std::string PathText(const std::filesystem::path& path) { return path.string(); }
bool FlushToDisk(FILE* f) { return std::fflush(f) == 0 && fsync(fileno(f)) == 0; }
std::string LastSystemError() { return std::strerror(errno); }
