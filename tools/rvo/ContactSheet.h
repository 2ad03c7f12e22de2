// A contact sheet: a grid of frame thumbnails, one row per source (the
// original frames, then each storage mode's decoded frames), up to four frames
// spread over the movie as columns. Thumbnails are a quarter of the frame's
// width and height, box filtered, composited over a grey checkerboard so that
// transparency shows; 8-pixel gaps on a dark background.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Types.h"

class CContactSheet {
public:
    CContactSheet(int nFrameWidth, int nFrameHeight, int nFrames);

    bool Shows(int k) const;
    int ColumnOf(int k) const;   // -1 when frame k is not shown
    // Adds a row; frameAt(k) gives frame k (packed, frame width x height) for each shown k.
    void AddRow(const std::function<const DWORD*(int)>& frameAt);

    int Width() const;
    int Height() const;
    std::string ColumnList() const;   // "0, 20, 40, 59"
    void Write(const std::string& path) const;

    static constexpr int kGap = 8;

private:
    int m_nFrameWidth, m_nFrameHeight;
    int m_nThumbWidth, m_nThumbHeight;
    std::vector<int> m_columns;
    std::vector<std::vector<DWORD>> m_rows;   // each row's thumbnails side by side
};
