// Memory source and destination managers and error hooks for libjpeg.
#include "codec/JpegGlue.h"

#include <jerror.h>

namespace {

struct MemoryDestination {
    jpeg_destination_mgr pub;
    MemoryStream* pStream;
    JOCTET* pBuffer;
};

struct MemorySource {
    jpeg_source_mgr pub;
    MemoryStream* pStream;
    JOCTET* pBuffer;
    boolean bStartOfFile;
};

void RaiseJpegError(j_common_ptr cinfo, int nCode) {
    cinfo->err->msg_code = nCode;
    (*cinfo->err->error_exit)(cinfo);
}

void InitDestination(j_compress_ptr cinfo) {
    MemoryDestination* d = (MemoryDestination*)cinfo->dest;
    d->pBuffer = (JOCTET*)(*cinfo->mem->alloc_small)((j_common_ptr)cinfo, JPOOL_IMAGE,
                                                     JPEG_GLUE_BUFFER_BYTES);
    d->pub.next_output_byte = d->pBuffer;
    d->pub.free_in_buffer = JPEG_GLUE_BUFFER_BYTES;
}

boolean EmptyOutputBuffer(j_compress_ptr cinfo) {
    MemoryDestination* d = (MemoryDestination*)cinfo->dest;
    if (MemoryStreamWrite(d->pStream, d->pBuffer, JPEG_GLUE_BUFFER_BYTES) != JPEG_GLUE_BUFFER_BYTES)
        RaiseJpegError((j_common_ptr)cinfo, JERR_FILE_WRITE);
    d->pub.next_output_byte = d->pBuffer;
    d->pub.free_in_buffer = JPEG_GLUE_BUFFER_BYTES;
    return TRUE;
}

void TermDestination(j_compress_ptr cinfo) {
    MemoryDestination* d = (MemoryDestination*)cinfo->dest;
    DWORD dwCount = (DWORD)(JPEG_GLUE_BUFFER_BYTES - d->pub.free_in_buffer);
    if (dwCount != 0 && MemoryStreamWrite(d->pStream, d->pBuffer, dwCount) != dwCount)
        RaiseJpegError((j_common_ptr)cinfo, JERR_FILE_WRITE);
}

void InitSource(j_decompress_ptr cinfo) {
    ((MemorySource*)cinfo->src)->bStartOfFile = TRUE;
}

boolean FillInputBuffer(j_decompress_ptr cinfo) {
    MemorySource* s = (MemorySource*)cinfo->src;
    DWORD n = MemoryStreamRead(s->pStream, s->pBuffer, JPEG_GLUE_BUFFER_BYTES);
    if (n == 0) {
        if (s->bStartOfFile) RaiseJpegError((j_common_ptr)cinfo, JERR_INPUT_EMPTY);
        WARNMS(cinfo, JWRN_JPEG_EOF);
        s->pBuffer[0] = (JOCTET)0xFF;
        s->pBuffer[1] = (JOCTET)JPEG_EOI;
        n = 2;
    }
    s->pub.next_input_byte = s->pBuffer;
    s->pub.bytes_in_buffer = n;
    s->bStartOfFile = FALSE;
    return TRUE;
}

void SkipInputData(j_decompress_ptr cinfo, long nCount) {
    if (nCount <= 0) return;
    jpeg_source_mgr* src = cinfo->src;
    while (nCount > (long)src->bytes_in_buffer) {
        nCount -= (long)src->bytes_in_buffer;
        FillInputBuffer(cinfo);
    }
    src->next_input_byte += nCount;
    src->bytes_in_buffer -= (size_t)nCount;
}

void TermSource(j_decompress_ptr) {}

}   // namespace

void ThrowOnJpegError(j_common_ptr cinfo) {
    (*cinfo->err->output_message)(cinfo);
    longjmp(((JpegErrorManager*)cinfo->err)->jbEscape, 1);
}

void IgnoreJpegMessage(j_common_ptr) {}

void InstallJpegErrorHooks(JpegErrorManager* m) {
    jpeg_std_error(&m->pub);
    m->pub.error_exit = ThrowOnJpegError;
    m->pub.output_message = IgnoreJpegMessage;
}

void SetMemoryDestination(j_compress_ptr cinfo, MemoryStream* s) {
    if (!cinfo->dest)
        cinfo->dest = (jpeg_destination_mgr*)(*cinfo->mem->alloc_small)(
            (j_common_ptr)cinfo, JPOOL_PERMANENT, sizeof(MemoryDestination));
    MemoryDestination* d = (MemoryDestination*)cinfo->dest;
    d->pub.init_destination = InitDestination;
    d->pub.empty_output_buffer = EmptyOutputBuffer;
    d->pub.term_destination = TermDestination;
    d->pStream = s;
}

void SetMemorySource(j_decompress_ptr cinfo, MemoryStream* s) {
    if (!cinfo->src) {
        MemorySource* p = (MemorySource*)(*cinfo->mem->alloc_small)(
            (j_common_ptr)cinfo, JPOOL_PERMANENT, sizeof(MemorySource));
        p->pBuffer = (JOCTET*)(*cinfo->mem->alloc_small)((j_common_ptr)cinfo, JPOOL_PERMANENT,
                                                         JPEG_GLUE_BUFFER_BYTES);
        cinfo->src = &p->pub;
    }
    MemorySource* p = (MemorySource*)cinfo->src;
    p->pub.init_source = InitSource;
    p->pub.fill_input_buffer = FillInputBuffer;
    p->pub.skip_input_data = SkipInputData;
    p->pub.resync_to_restart = jpeg_resync_to_restart;
    p->pub.term_source = TermSource;
    p->pStream = s;
    p->pub.bytes_in_buffer = 0;
    p->pub.next_input_byte = nullptr;
}
