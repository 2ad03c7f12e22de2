// Mending a finished JPEG movie one of whose two copies of a picture (the
// frame-area copy and the index record's copy) is damaged: the whole copy is
// written over the damaged one, byte for byte, so that both are whole again.
// Which copy is whole is the caller's finding (it decodes both); this part
// knows where a copy may go and writes it there.
#pragma once

#include <cstddef>

#include "container/RvoFile.h"
#include "platform/Types.h"

// One damaged copy and the whole copy that replaces it, at file offsets as
// CRvoFile::GetBlobCopies gives them.
struct RvoCopyMend {
    ULONGLONG nFrom = 0;    // where the whole copy's file form begins
    ULONGLONG nTo = 0;      // where the damaged copy's file form begins
    ULONGLONG nBytes = 0;   // the whole copy's file-form length
};

// Whether the whole copy fits exactly the place of the damaged one in entry
// nEntry of file: an index record's copy has the length the index states, a
// frame-area copy must end where the next frame-area copy or the index begins.
bool RvoCopyMendFits(const CRvoFile& file, int nEntry, const RvoCopyMend& m);

// Writes each mend's whole copy over its damaged copy in the file at pszPath,
// which nobody else has open for writing; the file keeps its length. FALSE
// with a last error: ERROR_INVALID_PARAMETER for a mend that reaches past the
// end of the file (nothing is written then), the platform's code for an open,
// read or write the system refused (ERROR_SHARING_VIOLATION, ERROR_CRC,
// ERROR_DISK_FULL, ERROR_WRITE_FAULT, ...). After a failed write the file may
// hold some mends and not others: callers mend a copy of the movie.
BOOL MendPictureCopies(const WCHAR* pszPath, const RvoCopyMend* pMends, size_t nMends);
