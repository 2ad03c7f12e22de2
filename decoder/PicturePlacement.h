// Where an entry's picture lands in a destination area: the frame rectangle
// cut to the destination (what the zero bands may paint), the picture's
// position and the part of it that shows. Pure geometry, apart from painting.
#pragma once

#include <cstddef>

#include "platform/Types.h"

// The frame rectangle of an open file in the destination.
struct FrameRect {
    LONGLONG nLeft = 0, nTop = 0;       // its origin in the destination
    LONGLONG nWidth = 0, nHeight = 0;   // the header's frame size
    bool bCornerPlaced = false;         // mode 1: pictures of another size sit in its bottom-right corner
};

// A rectangle of destination pixels, [x0, x1) x [y0, y1).
struct PixelBox {
    LONGLONG x0 = 0, y0 = 0, x1 = 0, y1 = 0;
    bool IsEmpty() const { return x1 <= x0 || y1 <= y0; }
};

struct PicturePlacement {
    PixelBox clip;             // the frame rectangle cut to the destination
    LONGLONG px = 0, py = 0;   // the picture's top-left pixel in the destination
    bool bTouches = false;     // the picture reaches the destination (its edge may just meet it)
    PixelBox visible;          // the picture's pixels inside the destination, when it touches
};

// A picture of srcW x srcH pixels placed in a destination of nDstWidth x
// nDstHeight pixels (nDstWidth: the pixels of each row that may be written).
PicturePlacement PlacePicture(const FrameRect& frame, LONGLONG srcW, LONGLONG srcH, LONGLONG nDstWidth,
                              LONGLONG nDstHeight);

// True when a picture of size s fills both the frame rectangle and the
// destination's rows exactly (at the origin, stride = width), so that it can be
// decoded straight into the destination. nDstWidth -1 means the whole stride.
bool IsWholeDestination(const FrameRect& frame, const SIZE& s, int nDstStride, int nDstHeight, int nDstWidth);

// Paints a placement: the clip area less the visible picture set to 0, the
// visible picture copied from pSrc (srcW pixels a row). pDst is the
// destination's top-left pixel, nDstStep its row step in pixels.
void PaintPlacedPicture(const PicturePlacement& p, const DWORD* pSrc, LONGLONG srcW, DWORD* pDst, ptrdiff_t nDstStep);
