// A native stand-in for the host in the dispatcher tests: parameter records
// and one handle slot.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "container/RvoFile.h"
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

}   // namespace plugintest
