// A native stand-in for the host in the dispatcher tests: parameter records,
// one handle slot, and hand-built header bytes.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "plugin/Dispatch.h"
#include "tests/support/TestFiles.h"

namespace plugintest {

struct Host {
    std::unique_ptr<HostMediaInfo> in = std::make_unique<HostMediaInfo>();
    std::unique_ptr<HostMediaInfo> out = std::make_unique<HostMediaInfo>();
    RvoHandle* handle = nullptr;

    Host() { RvoModuleAttach(); }
    ~Host() { RvoDispatch(CMD_CLOSE, nullptr, nullptr, &handle); }
    Host(const Host&) = delete;
    Host& operator=(const Host&) = delete;

    void SetPath(const std::string& s) {
        std::u16string w = rvotest::Wide(s);
        std::fill(std::begin(in->szPath), std::end(in->szPath), 0);
        std::copy(w.begin(), w.end(), in->szPath);
    }
    int Run(unsigned nCommand) { return RvoDispatch(nCommand, in.get(), out.get(), &handle); }

    // Command 6 for a cx x cy region with dTotalDuration = nFields field durations.
    int Create(const std::string& path, LONG nCompression, LONG cx, LONG cy, double nFields = 10) {
        SetPath(path);
        in->nCompression = nCompression;
        in->rcRegion = RECT{0, 0, cx, cy};
        in->dFieldDuration = 1.0;
        in->dTotalDuration = nFields;
        return Run(CMD_CREATE_WRITE);
    }
    int Open(const std::string& path) {
        SetPath(path);
        return Run(CMD_OPEN_READ);
    }
    int Close() { return Run(CMD_CLOSE); }
};

// The 160-byte header as the module writes it.
inline std::vector<uint8_t> HeaderBytes(uint32_t indexOffset, int32_t entries, int32_t frames, int32_t mode,
                                        int32_t width, int32_t height, uint32_t tableBytes = 0,
                                        uint32_t tableHigh = 0, uint32_t tableLow = 0) {
    std::vector<uint8_t> v;
    rvotest::PutBytes(v, "QARVOV10", 8);
    for (uint32_t x : {indexOffset, (uint32_t)entries, (uint32_t)frames, (uint32_t)mode, (uint32_t)width,
                       (uint32_t)height, 0u, 0u, 0u, tableBytes, tableHigh, tableLow})
        rvotest::PutU32(v, x);
    rvotest::PutZeros(v, 104);
    return v;
}

}  // namespace plugintest
