// Progress bar drawing: one line on stderr, rewritten in place with '\r'.
#include "tools/rvo/Progress.h"
#include "tools/rvo/System.h"

#include <cstdio>

bool CProgressBar::Enabled() { return StderrIsTerminal(); }

CProgressBar::CProgressBar(std::string strLabel, long long nTotal)
    : m_strLabel(std::move(strLabel)), m_nTotal(nTotal), m_bEnabled(Enabled()) {}

CProgressBar::~CProgressBar() { Finish(); }

void CProgressBar::Update(long long nDone) {
    if (!m_bEnabled) return;
    // Redrawing every frame would cost more than some frames take to process.
    auto now = std::chrono::steady_clock::now();
    bool bLast = m_nTotal > 0 && nDone >= m_nTotal;
    if (m_bDrawn && !bLast && now - m_lastDraw < std::chrono::milliseconds(100)) return;
    m_lastDraw = now;
    Draw(nDone);
}

void CProgressBar::Draw(long long nDone) {
    constexpr int kWidth = 30;
    if (m_nTotal > 0) {
        long long n = nDone > m_nTotal ? m_nTotal : nDone;
        int filled = (int)(n * kWidth / m_nTotal);
        std::fprintf(stderr, "\r%s [%.*s%*s] %lld/%lld", m_strLabel.c_str(), filled,
                     "##############################", kWidth - filled, "", n, m_nTotal);
    } else {
        std::fprintf(stderr, "\r%s %lld", m_strLabel.c_str(), nDone);
    }
    std::fflush(stderr);
    m_bDrawn = true;
}

void CProgressBar::Finish() {
    if (!m_bDrawn) return;
    std::fprintf(stderr, "\r\033[K");
    std::fflush(stderr);
    m_bDrawn = false;
}
