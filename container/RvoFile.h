// CRvoFile: one open RVO file, for reading or for writing, made of four parts
// that own their state (header, index, record store, preload cache). The parts
// are private: callers create, open, append, read, preload and close through
// the operations, and read what they need through const accessors. The
// operations live in the folder of their job: container/ (lifecycle, header,
// index), encoder/ (WriteFrame), decoder/ (reading, entry pictures), cache/
// (Preload, delivery from memory).
#pragma once

#include <memory>

#include "container/EncodedFrame.h"
#include "container/IndexEntry.h"
#include "container/IndexList.h"
#include "container/PreloadCache.h"
#include "container/RecordStore.h"
#include "container/RecordTypes.h"
#include "container/RvoFormat.h"
#include "container/RvoHeader.h"
#include "platform/File.h"
#include "platform/Types.h"

typedef int (*PFN_PROGRESS)(int);

class CRvoFile {
public:
    CRvoFile();
    ~CRvoFile();
    CRvoFile(const CRvoFile&) = delete;
    CRvoFile& operator=(const CRvoFile&) = delete;

    // What callers may read of the parts.
    const CRvoHeader& Header() const { return m_header; }
    // The working frame size (width 0 while none is set).
    SIZE FrameSize() const { return m_sizeFrame; }
    // Modes 4 and 5: one stored record (mode 5: the largest); otherwise 4 x cx x cy.
    DWORD FrameBytes() const { return m_store.m_nFrameBytes; }
    // A file opened for reading in mode 5: the size the table gives frame i's
    // record (0 past the table); in mode 4 every record's size.
    DWORD RecordBytesAt(unsigned i) const;
    const CPreloadCache& Cache() const { return m_cache; }
    bool IsWriting() const { return m_bWriting != FALSE; }
    // Called by Preload: once with minus the frame count, then after each frame
    // loaded with its number; a return of 0 stops the preload.
    void SetProgressCallback(PFN_PROGRESS pfn) { m_pfnProgress = pfn; }
    PFN_PROGRESS ProgressCallback() const { return m_pfnProgress; }

    // Lifecycle (container/).
    BOOL Open(const WCHAR* pszPath, UINT nOpenFlags);
    // After Open: the working size from the header (a JPEG file without
    // pictures has none; reading sets it per picture), pictures placed at the
    // origin, the first frame 0.
    void PrepareForReading();
    // Open for sharing with other readers, then PrepareForReading.
    BOOL OpenForReading(const WCHAR* pszPath);
    // A new file at pszPath (an existing one is emptied) in storage mode nMode,
    // for writing; with pSize, its working frame size too (SetFrameSize: a
    // writer that cannot record its size fails, the file closed unfinished).
    BOOL Create(const WCHAR* pszPath, LONG nMode, const SIZE* pSize = nullptr);
    // Closes the file (finishing it first with bFinalize when it is being
    // written) and resets the object, whatever fails. FALSE with a last error
    // when a file being written could not be finished or closed: the size
    // table, index, header or the system's close failed.
    BOOL Close(BOOL bFinalize);
    // The working frame size and its buffers. FALSE with a last error when the
    // size is refused (the buffers keep their size), a buffer cannot be had, or
    // a raw or packed writer could not record the size in its header.
    BOOL SetFrameSize(const SIZE* pSize);
    int GetFrameCount();
    // Whether a file is open (for reading or writing).
    bool IsOpen() const { return m_pFile != nullptr || m_store.m_hRawFile != nullptr; }
    BOOL SetFirstFrame(int n);
    BOOL SeekToFrame(unsigned i);
    // PackedFrames: how many frames use each record type (moves the raw file's position).
    RvoRecordTypes CountRecordTypes();
    RvoIndexEntry* GetEntry(int i) const { return m_index.GetEntry(i); }
    int GetEntryCount() const { return m_index.GetEntryCount(); }

    // Writing (encoder/).
    // One frame (row step nStride pixels) encoded and appended: EncodeFrame
    // into the file's working buffer, then AppendEncodedFrame.
    BOOL WriteFrame(const DWORD* pPixels, int nStride);
    // Appends a frame encoded for this file's mode and working size: its record
    // or blob, its index entry and (PackedFrames) its size-table word. Takes
    // the blob (frame.hBlob is null afterwards). FALSE with a last error when
    // the frame is not in the file; nothing is added then, except for a JPEG
    // frame the codec could not compress, which keeps its place as an entry
    // without a picture.
    BOOL AppendEncodedFrame(RvoEncodedFrame& frame);

    // Reading (decoder/).
    int FindEntry(unsigned frame);
    int LocateFrame(unsigned frame);
    // The frame at index as LocateFrame gives it (a record number in modes 4
    // and 5, an entry or -1 for a blank frame otherwise), decoded from the file.
    // nDstWidth: pixels of each destination row that may be written (the host
    // rectangle's width); -1 means the whole stride.
    int ReadFrame(unsigned index, DWORD* pDst, int nDstStride, int nDstHeight, BOOL bViaBuffer,
                  int nDstWidth = -1);
    // An entry's picture (decoder/PictureCopies.h: its blob from one of its two
    // copies, the other one when the first cannot be read, does not decode or
    // libjpeg reports damage in it; an image list's external still image when
    // no copy can be read), placed with its zero bands. When both copies are
    // damaged the picture is given as far as the first decodes and returns 1
    // with the last error ERROR_FILE_CORRUPT.
    int RebuildFrame(int entry, DWORD* pDst, int nDstStride, int nDstHeight, int nDstWidth = -1);
    int LoadEntryBlob(int entry);
    HGLOBAL TakeBlob(int entry);
    // The file offsets of entry's blob copies, the one read first first: 0, 1
    // or 2 of them (a file being written has only the frame-area copy, some
    // files only the index copy). Pictures are decoded from them by
    // DecodeEntryPicture (decoder/PictureCopies.h).
    int GetBlobCopies(int entry, ULONGLONG anAt[2]) const;
    // The blob's copy at nAt (an offset GetBlobCopies gives) as a new block, or
    // null with a last error (ReadBlobFromFile's).
    HGLOBAL ReadBlobCopy(ULONGLONG nAt);
    int ReadStillImage(int entry, int nWidth, int nHeight, DWORD* pPixels);

    // Preloading and delivery from memory (cache/).
    // Reopens pszPath and loads frames 0 .. nLast (-1: all) into page-locked
    // memory. TRUE when every frame was loaded or the progress callback said
    // stop; FALSE with a last error when it stopped early (frames loaded so far
    // stay): ERROR_NOT_ENOUGH_MEMORY (memory check), ERROR_WORKING_SET_QUOTA
    // (page lock refused: RLIMIT_MEMLOCK), a read or decode error, and
    // ERROR_NOT_SUPPORTED for entries without a picture blob.
    BOOL Preload(const WCHAR* pszPath, int nFirst, int nLast);
    // Field `field` (2 x frame + parity) from the preload cache; nDstWidth as for ReadFrame.
    int DeliverField(unsigned field, DWORD* pDst, int nDstStride, int nDstHeight, int nDstWidth = -1);

private:
    // Lifecycle (container/): the initial state of a new or closed object, and
    // the finishing of a file being written (Close's bFinalize).
    BOOL Reset(BOOL bInitial);
    BOOL Finalize();
    // The 512-byte header block of modes 4 and 5: the header image, then the
    // frame-size record once the working size is set, zeros elsewhere.
    void StoreHeaderBlock(BYTE out[512]) const;
    // Modes 4 and 5: the header block written at the raw handle's position
    // (pnWritten, may be null: the bytes written).
    BOOL WriteHeaderBlock(DWORD* pnWritten) const;
    // Modes 4 and 5 while writing: the header block written again at offset 0,
    // the file position kept.
    BOOL RewriteHeaderBlock();
    // JpegBlobs: the frame's blob into the frame area for entry e; the blob is freed.
    BOOL StoreBlob(RvoIndexEntry& e, HGLOBAL hBlob);
    // Opening (container/RvoOpen.cpp).
    BOOL ReadContents(const WCHAR* pszPath, UINT nOpenFlags);
    BOOL ReadIndex(ULONGLONG nFileBytes);
    void QueryMissingSize();
    BOOL ReadSizeTable(const WCHAR* pszPath, ULONGLONG nFileBytes);
    // Finishing (container/RvoCreate.cpp).
    BOOL WriteSizeTable();
    BOOL FinalizeRecords(int nFrames);
    BOOL FinalizeIndex();
    // Reading records (decoder/FrameReader.cpp).
    int ReadPackedFrame(unsigned index, DWORD* pDst, int nDstStride, int nDstHeight, int nDstWidth);
    int ReadRawFrame(unsigned index, DWORD* pDst, int nDstStride, int nDstHeight, BOOL bViaBuffer, int nDstWidth);
    // The working frame buffer as a picture of the working size, or null when it does not fit it.
    DWORD* WorkingPicture();

    // The parts, each owning its state.
    CRvoHeader m_header;     // the file's first 160 bytes as values
    CRvoIndex m_index;       // modes 1-3: the index entries, in file order
    CRecordStore m_store;    // the raw handle, working buffers and frame sizes
    CPreloadCache m_cache;   // the preloaded blocks (cache/ fills and reads it)

    std::unique_ptr<CFile> m_pFile;   // modes 1-3, and every mode while Open reads the header
    LONG m_nFirstFrame = 0;
    LONG m_nOriginX = 0;
    LONG m_nOriginY = 0;
    SIZE m_sizeFrame{0, 0};   // working frame size
    BOOL m_bWriting = FALSE;
    PFN_PROGRESS m_pfnProgress = nullptr;
};

// SetFilePointer with both halves of the distance; the new position, or -1 on failure.
LONGLONG SeekRaw(HANDLE h, LONGLONG distance, DWORD dwMethod);
