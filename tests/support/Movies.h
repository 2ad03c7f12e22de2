// Movies written and opened through CRvoFile the way the host's commands use
// it, for the tests, the benchmarks and the fuzz seeds.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "container/RvoFile.h"

namespace rvotest {

// Writes the frames (w x h pixels, rows w pixels apart) to a new file of the
// storage mode through the frame writer. Every frame is offered even after one
// is refused; false when the file cannot be created, a frame is refused or the
// close fails.
bool WriteMovie(const std::string& path, LONG nMode, int w, int h, const std::vector<std::vector<uint32_t>>& frames);

// Opens the file for reading (deny writers) as the host's open command leaves
// it: the frame size the file states, the origin at 0, frame 0 first.
bool OpenMovie(CRvoFile& r, const std::string& path);

// Where each frame of a finished file begins (its record, or its picture's
// frame-area copy), and where the last one ends; raw records are nRawRecord
// bytes. Empty when the file does not open.
std::vector<uint64_t> FrameBounds(const std::string& path, uint64_t nRawRecord);

// A movie of a record mode (4 or 5) written with unbuffered transfers aligned
// to nSector bytes (the platform's sector-size hook) and read back frame by
// frame the same way: the file's bytes, or nothing when writing fails or a
// frame does not come back as it was given.
std::vector<uint8_t> SectorSizedMovie(const std::string& path, LONG nMode, DWORD nSector, int w, int h,
                                      const std::vector<std::vector<uint32_t>>& frames);

}   // namespace rvotest
