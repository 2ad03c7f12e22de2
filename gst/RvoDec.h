// rvodec: reads RVO movies (video/x-rvo) into video/x-raw BGRA frames, with
// the pixels rvo decode gives. The file holds no times: frame k starts at
// k / framerate and lasts 1 / framerate; its two stored fields are the even
// rows (field 2k, shown first) and the odd rows (field 2k + 1), so with
// interlaced=true the frames go out interleaved, top field first.
#pragma once

#include <gst/gst.h>

G_BEGIN_DECLS
#define GST_TYPE_RVO_DEC (gst_rvo_dec_get_type())
G_DECLARE_FINAL_TYPE(GstRvoDec, gst_rvo_dec, GST, RVO_DEC, GstElement)
G_END_DECLS
