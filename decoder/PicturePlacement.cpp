// Placement of an entry's picture in a destination area, and its painting.
#include "decoder/PicturePlacement.h"

#include <algorithm>

#include "pixels/PixelRows.h"

PicturePlacement PlacePicture(const FrameRect& frame, LONGLONG srcW, LONGLONG srcH, LONGLONG nDstWidth,
                              LONGLONG nDstHeight) {
    PicturePlacement p;
    const LONGLONG W = nDstWidth, H = nDstHeight;
    const LONGLONG left = frame.nLeft, top = frame.nTop;
    const LONGLONG right = left + frame.nWidth, bottom = top + frame.nHeight;
    p.clip.x0 = std::max<LONGLONG>(left, 0);
    p.clip.y0 = std::max<LONGLONG>(top, 0);
    p.clip.x1 = std::max(std::min(W, right), p.clip.x0);
    p.clip.y1 = std::max(std::min(H, bottom), p.clip.y0);

    p.px = left;
    p.py = top;
    if (frame.bCornerPlaced && (srcW != frame.nWidth || srcH != frame.nHeight)) {
        p.px = right - srcW;
        p.py = bottom - srcH;
    }
    p.bTouches = p.px <= W && p.py <= H && p.px + srcW >= 0 && p.py + srcH >= 0;
    if (p.bTouches) {
        p.visible.x0 = std::max<LONGLONG>(p.px, 0);
        p.visible.x1 = std::min(p.px + srcW, W);
        p.visible.y0 = std::max<LONGLONG>(p.py, 0);
        p.visible.y1 = std::min(p.py + srcH, H);
    }
    return p;
}

bool IsWholeDestination(const FrameRect& frame, const SIZE& s, int nDstStride, int nDstHeight, int nDstWidth) {
    return s.cx > 0 && s.cy > 0 && frame.nLeft == 0 && frame.nTop == 0 && s.cx == frame.nWidth &&
           s.cy == frame.nHeight && nDstStride == s.cx && nDstHeight >= s.cy && (nDstWidth < 0 || nDstWidth >= s.cx);
}

void PaintPlacedPicture(const PicturePlacement& p, const DWORD* pSrc, LONGLONG srcW, DWORD* pDst, ptrdiff_t nDstStep) {
    auto Zero = [&](LONGLONG x, LONGLONG y, LONGLONG w, LONGLONG h) {
        if (w > 0 && h > 0) ZeroPixelRows(pDst + (ptrdiff_t)y * nDstStep + (ptrdiff_t)x, nDstStep, (LONG)w, (LONG)h);
    };
    const PixelBox& c = p.clip;
    if (!p.bTouches) {
        Zero(c.x0, c.y0, c.x1 - c.x0, c.y1 - c.y0);
        return;
    }
    const PixelBox& v = p.visible;
    if (!c.IsEmpty()) {
        // Bands: the clip area less the visible picture.
        Zero(c.x0, c.y0, c.x1 - c.x0, std::min(v.y0, c.y1) - c.y0);
        const LONGLONG ry0 = std::max(v.y0, c.y0), ry1 = std::min(v.y1, c.y1);
        Zero(c.x0, ry0, std::min(v.x0, c.x1) - c.x0, ry1 - ry0);
        const LONGLONG rx = std::max(v.x1, c.x0);
        Zero(rx, ry0, c.x1 - rx, ry1 - ry0);
        const LONGLONG by = std::max(v.y1, c.y0);
        Zero(c.x0, by, c.x1 - c.x0, c.y1 - by);
    }
    if (!v.IsEmpty())
        CopyPixelRows(pDst + (ptrdiff_t)v.y0 * nDstStep + (ptrdiff_t)v.x0, nDstStep,
                      pSrc + (ptrdiff_t)(v.y0 - p.py) * (ptrdiff_t)srcW + (ptrdiff_t)(v.x0 - p.px), (ptrdiff_t)srcW,
                      (LONG)(v.x1 - v.x0), (LONG)(v.y1 - v.y0));
}
