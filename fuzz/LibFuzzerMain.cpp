// The libFuzzer entry of one target program; RVO_FUZZ_TARGET names the target
// function (see FuzzTargets.h).
#include "fuzz/FuzzSupport.h"
#include "fuzz/FuzzTargets.h"

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    rvofuzz::Setup();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* p, size_t n) { return rvofuzz::RVO_FUZZ_TARGET(p, n); }
