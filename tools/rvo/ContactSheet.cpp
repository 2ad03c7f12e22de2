// Thumbnails by box filtering over a checkerboard, laid out in a grid.
#include "tools/rvo/ContactSheet.h"

#include <algorithm>

#include "tools/rvo/PngFiles.h"

namespace {
constexpr int kMaxColumns = 4;
constexpr DWORD kBackground = 0xFF202020u;
}   // namespace

CContactSheet::CContactSheet(int nFrameWidth, int nFrameHeight, int nFrames)
    : m_nFrameWidth(nFrameWidth),
      m_nFrameHeight(nFrameHeight),
      m_nThumbWidth(std::max(1, nFrameWidth / 4)),
      m_nThumbHeight(std::max(1, nFrameHeight / 4)) {
    for (int c = 0; c < kMaxColumns; c++) {
        int k = nFrames > 1 ? (int)((long long)c * (nFrames - 1) / (kMaxColumns - 1)) : 0;
        if (m_columns.empty() || m_columns.back() != k) m_columns.push_back(k);
    }
}

bool CContactSheet::Shows(int k) const { return ColumnOf(k) >= 0; }

int CContactSheet::ColumnOf(int k) const {
    auto it = std::find(m_columns.begin(), m_columns.end(), k);
    return it == m_columns.end() ? -1 : (int)(it - m_columns.begin());
}

int CContactSheet::Width() const {
    return (int)m_columns.size() * m_nThumbWidth + ((int)m_columns.size() + 1) * kGap;
}

int CContactSheet::Height() const {
    return (int)m_rows.size() * m_nThumbHeight + ((int)m_rows.size() + 1) * kGap;
}

std::string CContactSheet::ColumnList() const {
    std::string s;
    for (int k : m_columns) s += (s.empty() ? "" : ", ") + std::to_string(k);
    return s;
}

void CContactSheet::AddRow(const std::function<const DWORD*(int)>& frameAt) {
    const int tw = m_nThumbWidth, th = m_nThumbHeight, W = m_nFrameWidth, H = m_nFrameHeight;
    std::vector<DWORD> row((size_t)m_columns.size() * tw * th);
    for (size_t c = 0; c < m_columns.size(); c++) {
        const DWORD* src = frameAt(m_columns[c]);
        for (int ty = 0; ty < th; ty++) {
            const int y0 = (int)((long long)ty * H / th), y1 = std::max(y0 + 1, (int)((long long)(ty + 1) * H / th));
            for (int tx = 0; tx < tw; tx++) {
                const int x0 = (int)((long long)tx * W / tw), x1 = std::max(x0 + 1, (int)((long long)(tx + 1) * W / tw));
                const unsigned checker = ((tx / 6 + ty / 6) & 1) ? 0x99 : 0x66;
                unsigned long long sum[3] = {0, 0, 0};
                for (int y = y0; y < y1; y++) {
                    for (int x = x0; x < x1; x++) {
                        DWORD p = src[(size_t)y * W + x];
                        unsigned a = p >> 24;
                        for (int ch = 0; ch < 3; ch++)
                            sum[ch] += (((p >> (8 * ch)) & 255) * a + checker * (255 - a) + 127) / 255;
                    }
                }
                const unsigned long long count = (unsigned long long)(y1 - y0) * (x1 - x0);
                DWORD out = 0xFF000000u;
                for (int ch = 0; ch < 3; ch++) out |= (DWORD)((sum[ch] + count / 2) / count) << (8 * ch);
                row[(size_t)ty * m_columns.size() * tw + c * tw + tx] = out;
            }
        }
    }
    m_rows.push_back(std::move(row));
}

void CContactSheet::Write(const std::string& path) const {
    const int W = Width(), H = Height(), tw = m_nThumbWidth, th = m_nThumbHeight;
    const size_t rowPixels = m_columns.size() * tw;
    std::vector<DWORD> sheet((size_t)W * H, kBackground);
    for (size_t r = 0; r < m_rows.size(); r++) {
        for (size_t c = 0; c < m_columns.size(); c++) {
            const int left = kGap + (int)c * (tw + kGap), top = kGap + (int)r * (th + kGap);
            for (int y = 0; y < th; y++)
                std::copy_n(&m_rows[r][(size_t)y * rowPixels + c * tw], tw, &sheet[(size_t)(top + y) * W + left]);
        }
    }
    WritePng(path, sheet.data(), W, H, W);
}
