// Scratch files for tests: a fresh folder per test program, on the build
// folder's disk (so unbuffered I/O is exercised) or on /tmp (tmpfs fallback);
// byte builders for hand-written fixtures. Nothing here uses the module, so
// the 32-bit host, which knows the module only through its exports, links it too.
#pragma once

#include <sys/resource.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace rvotest {

// A new empty folder under the build folder, removed when the program ends.
std::string ScratchDir();
// A path in ScratchDir() with the given file name.
std::string ScratchPath(const std::string& name);
// A path with the given file name in a folder in memory (/dev/shm) where the
// system has one, else ScratchPath's: for sweeps that write thousands of small
// movies, where the disk's unbuffered writes would take most of the time and
// test nothing the sweep is about. Removed when the program ends.
std::string MemoryScratchPath(const std::string& name);
// The same path as UTF-16, as the module's APIs take it.
std::u16string Wide(const std::string& s);

std::vector<uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes);

// Little-endian builders for hand-written fixtures.
void PutU32(std::vector<uint8_t>& v, uint32_t x);
void PutU16(std::vector<uint8_t>& v, uint16_t x);
void PutBytes(std::vector<uint8_t>& v, const void* p, size_t n);
void PutZeros(std::vector<uint8_t>& v, size_t n);
void Append(std::vector<uint8_t>& v, const std::vector<uint8_t>& more);

// The header of an RVO file, field by field: magic QARVOV10, index offset,
// entry count, frame count, mode, width, height, three zero words (two
// reserved, the size-table flag), size-table length, its offset's high and
// low words.
struct HeaderFields {
    uint32_t indexOffset = 160;
    uint32_t entryCount = 0;
    int32_t frameCount = 0;
    int32_t mode = 3;
    int32_t width = 0;
    int32_t height = 0;
    uint32_t sizeTableBytes = 0;
    uint32_t tableHigh = 0;
    uint32_t tableLow = 0;
    // The frame-size record of a 512-byte block of modes 4 and 5: the writer's
    // size; the header's width and height unless given; none when either is 0 or less.
    int32_t recordWidth = 0;
    int32_t recordHeight = 0;
};
// The header and zeros up to nBlockBytes: 160 for the header alone, 512 for
// the header block that starts a file of modes 4 and 5 (with its frame-size
// record at 160, as the writer leaves it).
std::vector<uint8_t> HeaderBytes(const HeaderFields& h, size_t nBlockBytes = 160);

// "" when equal; otherwise the first differing offset with a short hex dump of both.
std::string DiffBytes(const std::vector<uint8_t>& expected, const std::vector<uint8_t>& actual);

// Caps the size of files this process may write, as a full disk would; the
// kernel then ends writes short or refuses them (SIGXFSZ is ignored meanwhile).
class FileSizeCap {
public:
    explicit FileSizeCap(rlim_t nBytes);
    ~FileSizeCap() { Lift(); }
    FileSizeCap(const FileSizeCap&) = delete;
    FileSizeCap& operator=(const FileSizeCap&) = delete;
    void Lift();
    bool Ok() const { return m_bOk; }

private:
    struct rlimit m_old {};
    void (*m_pfnOld)(int) = nullptr;
    bool m_bOk = false;
};

}   // namespace rvotest
