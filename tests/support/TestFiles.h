// Scratch files for tests: a fresh folder per test program, on the build
// folder's disk (so unbuffered I/O is exercised) or on /tmp (tmpfs fallback).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Types.h"

namespace rvotest {

// A new empty folder under the build folder, removed when the program ends.
std::string ScratchDir();
// A path in ScratchDir() with the given file name.
std::string ScratchPath(const std::string& name);
// The same path as UTF-16, as the module's APIs take it.
std::u16string Wide(const std::string& s);

std::vector<uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes);

// Little-endian builders for hand-written fixtures.
void PutU32(std::vector<uint8_t>& v, uint32_t x);
void PutU16(std::vector<uint8_t>& v, uint16_t x);
void PutBytes(std::vector<uint8_t>& v, const void* p, size_t n);
void PutZeros(std::vector<uint8_t>& v, size_t n);

// "" when equal; otherwise the first differing offset with a short hex dump of both.
std::string DiffBytes(const std::vector<uint8_t>& expected, const std::vector<uint8_t>& actual);

}  // namespace rvotest
