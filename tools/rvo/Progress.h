// A progress bar on stderr for the long subcommands. It draws only when stderr
// is a terminal, so piped or logged runs stay quiet and machine-readable.
#pragma once

#include <chrono>
#include <string>

class CProgressBar {
public:
    // nTotal: the number of steps, or 0 when it is not known (input from a pipe).
    CProgressBar(std::string strLabel, long long nTotal);
    ~CProgressBar();
    CProgressBar(const CProgressBar&) = delete;
    CProgressBar& operator=(const CProgressBar&) = delete;

    void SetTotal(long long nTotal) { m_nTotal = nTotal; }
    // nDone steps are finished; redraws at most a few times per second.
    void Update(long long nDone);
    // Clears the bar's line so that the next message starts on a clean line.
    void Finish();

    static bool Enabled();

private:
    void Draw(long long nDone);

    std::string m_strLabel;
    long long m_nTotal;
    bool m_bEnabled;
    bool m_bDrawn = false;
    std::chrono::steady_clock::time_point m_lastDraw{};
};
