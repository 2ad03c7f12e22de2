// Reading: rvo.open's Movie and rvo.read_frames, through the tool's host
// reader (the host's commands 5 and 7), frames decoded straight into the
// arrays' memory with the GIL released.
#include "RvoPython.h"

#include <algorithm>

#include "container/Limits.h"
#include "plugin/Dispatch.h"
#include "tools/rvo/OrderedWork.h"
#include "tools/rvo/ThreadsOption.h"
#include "tools/rvo/ToolSupport.h"
#include "tools/rvo/VerifyFile.h"

namespace rvopy {

Movie::Movie(const std::string& path, double dFieldDuration) : m_path(path), m_dFieldDuration(dFieldDuration) {
    if (!(dFieldDuration > 0)) throw py::value_error("field_duration must be positive");
    py::gil_scoped_release nogil;
    std::unique_ptr<CRvoFile> f = OpenRvoOrFail(path);
    m_nFrames = CheckedFrameCount(*f, path);
    m_nMode = f->Header().m_nMode;
    m_nWidth = f->Header().m_nWidth;
    m_nHeight = f->Header().m_nHeight;
    for (int i = 0; i < f->GetEntryCount(); i++) m_entries.push_back(EntryReport(*f->GetEntry(i)));
    f->Close(FALSE);
    // An unfinished file opens as a movie of no frames; say what it is instead.
    FailIfUnfinished(path);
    if (m_nFrames > 0 && (m_nWidth <= 0 || m_nHeight <= 0 || !rvo::FrameSizeAllowed(m_nWidth, m_nHeight)))
        Fail(path + ": damaged RVO file (frame size " + std::to_string(m_nWidth) + "x" + std::to_string(m_nHeight) +
                 ")",
             ERROR_INVALID_DATA);
    m_pReader = std::make_unique<CHostReader>(path);
}

void Movie::Close() {
    std::lock_guard<std::mutex> lk(m_lock);
    m_workers.clear();
    m_pReader.reset();
}

py::tuple Movie::Shape() const { return py::make_tuple(m_nFrames, m_nHeight, m_nWidth, 4); }

py::list Movie::Entries() const {
    py::list l;
    for (const Json& e : m_entries) l.append(ToPython(e));
    return l;
}

long long Movie::Index(long long i) const {
    if (i < 0) i += m_nFrames;
    if (i < 0 || i >= m_nFrames)
        throw py::index_error("frame " + std::to_string(i) + " out of range (the movie has " +
                              std::to_string(m_nFrames) + " frames)");
    return i;
}

py::array Movie::Read(long long i, const std::string& strOrder, const py::object& out) {
    const Order order = ParseOrder(strOrder);
    const long long k = Index(i);
    py::array a = out.is_none() ? NewFrame(m_nWidth, m_nHeight) : OutArray(out, {m_nHeight, m_nWidth, 4});
    DWORD* p = reinterpret_cast<DWORD*>(a.mutable_data());
    {
        py::gil_scoped_release nogil;
        ReadInto(k, p, order);
    }
    return a;
}

py::array_t<uint8_t> Movie::ReadSlice(const py::slice& s, const std::string& strOrder) {
    const Order order = ParseOrder(strOrder);
    size_t start, stop, step, n;
    if (!s.compute((size_t)m_nFrames, &start, &stop, &step, &n)) throw py::error_already_set();
    py::array_t<uint8_t> a = NewFrames((long long)n, m_nWidth, m_nHeight);
    DWORD* p = reinterpret_cast<DWORD*>(a.mutable_data());
    const size_t nPixels = (size_t)m_nWidth * (size_t)m_nHeight;
    {
        py::gil_scoped_release nogil;
        for (size_t j = 0; j < n; j++)
            ReadInto((long long)(py::ssize_t)start + (long long)j * (py::ssize_t)step, p + j * nPixels, order);
    }
    return a;
}

py::array Movie::ReadMany(int nThreads, const std::string& strOrder, long long nStart, std::optional<long long> stop,
                          const py::object& outGiven) {
    const Order order = ParseOrder(strOrder);
    nThreads = ResolveThreads(nThreads);
    long long nStop = stop ? *stop : m_nFrames;
    if (nStart < 0) nStart += m_nFrames;
    if (nStop < 0) nStop += m_nFrames;
    nStart = std::clamp(nStart, 0LL, m_nFrames);
    nStop = std::clamp(nStop, nStart, m_nFrames);
    const long long n = nStop - nStart;
    const int cx = m_nWidth, cy = m_nHeight;
    py::array out = outGiven.is_none() ? NewFrames(n, cx, cy) : OutArray(outGiven, {(py::ssize_t)n, cy, cx, 4});
    DWORD* pOut = reinterpret_cast<DWORD*>(out.mutable_data());
    const size_t nPixels = (size_t)cx * (size_t)cy;
    py::gil_scoped_release nogil;
    std::lock_guard<std::mutex> lk(m_lock);
    if (!m_pReader) Fail(m_path + ": the movie is closed");
    nThreads = (int)std::max(1LL, std::min<long long>(nThreads, n));
    while ((int)m_workers.size() < nThreads - 1) m_workers.push_back(std::make_unique<CHostReader>(m_path));
    struct Item {
        long long k = 0;
        DWORD dwError = 0;
    };
    RunOrdered<Item>(
        nThreads, FramesInFlight(nThreads),
        [&](long long j, Item& item) {
            item.k = j;
            return j < n;
        },
        [&](int w, Item& item) {
            DWORD* p = pOut + (size_t)item.k * nPixels;
            CHostReader& reader = w == 0 ? *m_pReader : *m_workers[(size_t)w - 1];
            reader.ForgetLastDecoded();
            item.dwError = reader.ReadFrame(nStart + item.k, p, cx, cy, false);
            if (!item.dwError && order == Order::RGBA) SwapRedBlue(p, nPixels);
        },
        [&](long long j, Item& item) {
            if (item.dwError) FailFrame(nStart + j, item.dwError);
            return true;
        });
    return out;
}

long long Movie::IndexAt(double dTime) const {
    if (m_nFrames == 0) throw py::index_error("the movie has no frames");
    const long long f = FieldFromTime(dTime, m_dFieldDuration) / 2;
    return std::min(f, m_nFrames - 1);
}

void Movie::FailFrame(long long k, DWORD dwError) const {
    // A frame the module could not read is damage, unless the system failed the read or the file is in use.
    const bool bSystem = IsIoFailure(dwError) || dwError == ERROR_SHARING_VIOLATION;
    Fail(m_path + ": " + DescribeFrameFailure(k, dwError), bSystem ? dwError : DamageCode(dwError));
}

void Movie::ReadInto(long long k, DWORD* p, Order order) {
    DWORD dwError;
    {
        std::lock_guard<std::mutex> lk(m_lock);
        if (!m_pReader) Fail(m_path + ": the movie is closed");
        m_pReader->ForgetLastDecoded();
        dwError = m_pReader->ReadFrame(k, p, m_nWidth, m_nHeight, false);
    }
    if (dwError) FailFrame(k, dwError);
    if (order == Order::RGBA) SwapRedBlue(p, (size_t)m_nWidth * (size_t)m_nHeight);
}

py::array ReadFrames(const std::string& path, int nThreads, const std::string& strOrder, long long nStart,
                     std::optional<long long> stop, const py::object& out) {
    ParseOrder(strOrder);
    ResolveThreads(nThreads);   // bad arguments before the file
    Movie movie(path, 1.0);
    return movie.ReadMany(nThreads, strOrder, nStart, stop, out);
}

}   // namespace rvopy
