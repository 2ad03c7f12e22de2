// How many frames of a PackedFrames file use each record type.
#pragma once

struct RvoRecordTypes {
    bool bPacked = false;   // the file is a PackedFrames file with a size table
    long long nRaw = 0, nAlphaRuns = 0, nColourRuns = 0;
    long long nUnreadable = 0;   // records past the file's end or with no known tag
};
