// The fuzz targets: one reading or writing path of the module each, taking any
// bytes. libFuzzer drives one target per program (LibFuzzerMain.cpp); the replay
// program (Replay.cpp) runs every stored input through all of them.
#pragma once

#include <cstddef>
#include <cstdint>

namespace rvotest {
struct CrashMovie;
}

namespace rvofuzz {

// A file image (header and index) opened and queried as the file-info command does.
int OpenQueryTarget(const uint8_t* p, size_t n);
// A file opened for reading and every frame read into a host buffer, each way a frame is read.
int ReadFramesTarget(const uint8_t* p, size_t n);
// One packed record (after a width byte and a height byte) through the reader's checks and decoders.
int PackedRecordTarget(const uint8_t* p, size_t n);
// One picture blob through Decompress and DecompressInto.
int PictureBlobTarget(const uint8_t* p, size_t n);
// One field record (after three bytes of destination shape) through DrawFieldRecord, both copy paths.
int FieldRecordTarget(const uint8_t* p, size_t n);
// A file preloaded, then every field delivered from the cache.
int PreloadTarget(const uint8_t* p, size_t n);
// Frames made from the input written in each writable mode and read back.
int RoundTripTarget(const uint8_t* p, size_t n);
// A finished movie of mode 3, 4 or 5 (first byte) damaged as the next 16 bytes say.
int CorruptionTarget(const uint8_t* p, size_t n);
// A movie of mode 3, 4 or 5 (first byte) written over an older one and stopped at
// a crash point (by write or byte: the next byte; where: the next 8), then recovered.
int CrashPointTarget(const uint8_t* p, size_t n);
// The movie of mode 3, 4 or 5 the crash points are drawn over (96 x 64, 12
// frames), made once; null where the platform has no crash point hook.
const rvotest::CrashMovie* CrashMovieOfMode(int nMode);

struct Target {
    const char* pszName;
    int (*pfn)(const uint8_t*, size_t);
};

constexpr Target kTargets[] = {
    {"open_query", OpenQueryTarget},
    {"read_frames", ReadFramesTarget},
    {"packed_record", PackedRecordTarget},
    {"picture_blob", PictureBlobTarget},
    {"field_record", FieldRecordTarget},
    {"preload", PreloadTarget},
    {"round_trip", RoundTripTarget},
    {"corruption", CorruptionTarget},
    {"crash_point", CrashPointTarget},
};

}   // namespace rvofuzz
