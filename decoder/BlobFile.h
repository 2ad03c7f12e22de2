// Reading one picture blob from the frame area of a blob file into memory.
#pragma once

#include "platform/File.h"
#include "platform/Types.h"

// Reads the blob at the file's current position into a new movable global
// block (in-memory magic, the four header words, the streams, 4 zero bytes)
// and stores its handle in *phOut. FALSE on failure, *phOut unchanged: a
// marker other than the file marker (last error ERROR_BAD_FORMAT, position
// restored to where the marker began), stream lengths beyond the limit or the
// end of the file (ERROR_INVALID_DATA), a short read (ERROR_HANDLE_EOF), or no
// memory (ERROR_NOT_ENOUGH_MEMORY).
BOOL ReadBlobFromFile(CFile* pFile, HGLOBAL* phOut);
