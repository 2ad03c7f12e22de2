// Rectangle intersection.
#include "platform/Rect.h"

BOOL IntersectRect(RECT* pOut, const RECT* a, const RECT* b) {
    RECT r;
    r.left = a->left > b->left ? a->left : b->left;
    r.top = a->top > b->top ? a->top : b->top;
    r.right = a->right < b->right ? a->right : b->right;
    r.bottom = a->bottom < b->bottom ? a->bottom : b->bottom;
    if (r.left >= r.right || r.top >= r.bottom) {
        *pOut = RECT{0, 0, 0, 0};
        return FALSE;
    }
    *pOut = r;
    return TRUE;
}
