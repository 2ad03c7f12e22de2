// What the tool needs from the system it runs on, beyond the module's own
// platform layer: its standard streams and console, file names given as UTF-8
// text, the system's words for an error. One implementation per system, in
// tools/rvo/posix/ and tools/rvo/win32/.
#pragma once

#include <cstdio>
#include <filesystem>
#include <string>

// Once, before any subcommand runs: standard input and output carry bytes
// unchanged, and a write past the file-size limit fails instead of killing the
// tool. An interrupt (Ctrl+C) ends the tool at once, as a kill would, leaving a
// movie being written for `rvo recover`.
void PrepareProcess();

// Whether standard output / standard error is a terminal (a console window).
bool StdoutIsTerminal();
bool StderrIsTerminal();

// A reader of standard output that has gone away is a write error, not a kill.
void IgnoreBrokenPipe();

// The process id, for names of temporary files.
unsigned long ProcessId();

// A file named by UTF-8 text, opened as fopen does; null with the system's
// error for LastSystemError.
FILE* OpenFile(const std::string& path, const char* mode);
// A UTF-8 file name as a path, and back.
std::filesystem::path FsPath(const std::string& path);
std::string PathText(const std::filesystem::path& path);
// Writes what f has buffered through to the disk; false on failure.
bool FlushToDisk(FILE* f);
// The system's words for the last failed call (strerror, or FormatMessage).
std::string LastSystemError();

// The tool (main.cpp), called by the system's entry point with the arguments
// as UTF-8 text.
int RunTool(int argc, char** argv);
