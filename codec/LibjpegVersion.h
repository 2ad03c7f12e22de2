// Which libjpeg the program runs with, for version texts; callers need no
// libjpeg headers.
#pragma once

#include <string>

// "libjpeg: built with [libjpeg-turbo X, ]JPEG_LIB_VERSION N; running API ...
// from <library file>": the headers' version at build time, the API version
// from the running library's message table and the file the dynamic linker
// loaded it from (" (linked in)" when there is none).
std::string LibjpegVersion();
