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

}  // namespace rvotest
