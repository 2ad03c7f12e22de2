// Archive bytes through a scratch file, for the tests of the archive and of
// the index records written with it.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/Archive.h"

namespace rvotest {

// The bytes a storing archive holds once fn has written to it and it is closed.
std::vector<uint8_t> ArchiveStored(const std::function<void(CArchive&)>& fn);

// Runs fn on an archive loading the bytes. Returns the cause of the
// CArchiveException it raised, -1 for a COleException of E_INVALIDARG (a
// negative length), -2 for a CMemoryException, -3 for any other COleException,
// -4 when the scratch file does not open, 0 when fn returned.
int ArchiveLoaded(const std::vector<uint8_t>& bytes, const std::function<void(CArchive&)>& fn);

}   // namespace rvotest
