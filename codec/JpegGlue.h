// What stands between the engine and libjpeg: memory source and destination
// managers over a MemoryStream (65536-byte chunks), and the error hooks that
// carry a libjpeg failure back to the operation that called the library.
//
// A libjpeg error leaves through longjmp to the jmp_buf in JpegErrorManager,
// which the operation arms with setjmp before its first library call. Every
// frame between the two (libjpeg's C frames and the managers below) holds no
// object with a destructor.
#pragma once

#include <csetjmp>
#include <cstdio>

#include <jpeglib.h>

#include "codec/MemoryStream.h"

constexpr size_t JPEG_GLUE_BUFFER_BYTES = 65536;

struct JpegErrorManager {
    jpeg_error_mgr pub;   // first, so libjpeg's err pointer is also ours
    jmp_buf jbEscape;
};

// Points `err` of a libjpeg object at m after jpeg_std_error and installs the
// two hooks below.
void InstallJpegErrorHooks(JpegErrorManager* m);

// error_exit: calls output_message, then longjmps to m->jbEscape. The object
// is left for its owner to destroy.
void ThrowOnJpegError(j_common_ptr cinfo);
// output_message: drops the message; warnings are still counted by libjpeg.
void IgnoreJpegMessage(j_common_ptr cinfo);

// Installs the memory destination (allocated once per object, permanent pool).
// A write the stream refuses raises JERR_FILE_WRITE.
void SetMemoryDestination(j_compress_ptr cinfo, MemoryStream* s);
// Installs the memory source and empties its buffer. An empty stream raises
// JERR_INPUT_EMPTY; a stream that ends early gets an end-of-image marker and
// the warning JWRN_JPEG_EOF.
void SetMemorySource(j_decompress_ptr cinfo, MemoryStream* s);
