// Writing: rvo.create's Writer and rvo.write_frames. Frames are encoded as
// the tool's workers encode them (several at once for write_frames) and
// appended in frame order through the tool's host writer.
#include "RvoPython.h"

#include <algorithm>
#include <filesystem>

#include "codec/JpeEngine.h"
#include "container/Limits.h"
#include "container/RvoFormat.h"
#include "encoder/FrameEncode.h"
#include "platform/LastError.h"
#include "plugin/Dispatch.h"
#include "tools/rvo/OrderedWork.h"
#include "tools/rvo/ThreadsOption.h"
#include "tools/rvo/ToolSupport.h"

namespace rvopy {

namespace {

LONG CompressionOrFail(const std::string& strMode) {
    const LONG n = CompressionForModeName(strMode);
    if (n < 0) throw py::value_error("mode must be \"jpeg\", \"raw\" or \"packed\", not \"" + strMode + "\"");
    return n;
}

}   // namespace

EncodeItem::~EncodeItem() {
    if (frame.hBlob) CJpeEngine::FreeBlob(frame.hBlob);
}

Writer::Writer(const std::string& path, const std::string& strMode, int cx, int cy, long long nMax)
    : m_path(path), m_nCompression(CompressionOrFail(strMode)), m_nMode(rvo::StorageModeForCompression(m_nCompression)), m_nWidth(cx), m_nHeight(cy), m_nMax(nMax) {
    CheckSize(cx, cy);
    if (nMax < 1 || nMax > (long long)rvo::kMaxEntries)
        throw py::value_error("a movie holds 1 to " + std::to_string(rvo::kMaxEntries) + " frames, not " +
                              std::to_string(nMax));
    const SIZE size{cx, cy};
    m_nBufferBytes = EncodeBufferBytes(m_nMode, size);
    py::gil_scoped_release nogil;
    m_pWriter = std::make_unique<CHostWriter>(path, m_nCompression, cx, cy, nMax);
}

void Writer::Encode(EncodeItem& item, Order order) {
    const size_t nPixels = (size_t)m_nWidth * (size_t)m_nHeight;
    const DWORD* p = item.pPixels;
    if (order == Order::RGBA) {
        item.swapped.resize(nPixels);
        SwapRedBlueInto(p, item.swapped.data(), nPixels);
        p = item.swapped.data();
    }
    item.record.Reserve(m_nBufferBytes);
    const SIZE size{m_nWidth, m_nHeight};
    EncodeFrame(m_nMode, size, p, m_nWidth, item.record.Bytes(), m_nBufferBytes, item.frame);
}

void Writer::Append(EncodeItem& item) {
    if (!m_pWriter) Fail(m_path + ": the writer is closed");
    const long long nFrame = m_nWritten;
    // A JPEG frame the codec could not compress is kept as an entry without a picture.
    const bool bKept = m_nMode == rvo::JpegBlobs && !item.frame.hBlob && !item.frame.bFailed;
    SetLastError(ERROR_SUCCESS);
    const int rc = m_pWriter->Append(item.frame);
    if (rc == kHostRefused) {
        Fail(m_path + ": frame " + std::to_string(nFrame) + " refused: the movie was created for " +
                                     std::to_string(m_nMax) + " frames");
    }
    if (rc != kHostDone) {
        const DWORD dwError = GetLastError();
        m_nWritten += bKept ? 1 : 0;
        const DWORD dwCloseError = Finish();
        const std::string why = DescribeUnstoredFrame(bKept, dwError);
        Fail(m_path + ": frame " + std::to_string(nFrame) + " failed (" + why +
                                       "); the file is closed with the " + std::to_string(nFrame) +
                                       " frames before it" +
                                       (bKept ? " (and this frame as an entry without a picture)" : "") +
                                       (dwCloseError ? ", but finishing it failed (" + DescribeLastError(dwCloseError) +
                                                           "; rvo.recover gives them back)"
                                                     : ""),
             dwError);
    }
    m_nWritten++;
}

void Writer::AppendArray(const py::handle& obj, const std::string& strOrder) {
    const Order order = ParseOrder(strOrder);
    const DWORD* p = CheckFrame(obj, m_nWidth, m_nHeight, -1);
    py::gil_scoped_release nogil;
    std::lock_guard<std::mutex> lk(m_lock);
    if (!m_pWriter) Fail(m_path + ": the writer is closed");
    m_item.pPixels = p;
    Encode(m_item, order);
    Append(m_item);
}

void Writer::Close() {
    py::gil_scoped_release nogil;
    std::lock_guard<std::mutex> lk(m_lock);
    if (!m_pWriter) return;
    const DWORD dwError = Finish();
    CheckWritten(dwError);
}

void Writer::Abandon() {
    py::gil_scoped_release nogil;
    std::lock_guard<std::mutex> lk(m_lock);
    if (m_pWriter) m_pWriter->Abandon();
    m_pWriter.reset();
}

DWORD Writer::Finish() {
    const DWORD dwError = m_pWriter ? m_pWriter->Close() : 0;
    m_pWriter.reset();
    return dwError;
}

void Writer::CheckWritten(DWORD dwCloseError) {
    if (m_nWritten == 0) {
        // A movie without frames is of no use to anyone; leave nothing behind.
        std::error_code ec;
        std::filesystem::remove(m_path, ec);
        Fail(m_path + ": no frames were appended; the file is removed");
    }
    if (dwCloseError)
        Fail(m_path + ": finishing the file failed (" + DescribeLastError(dwCloseError) +
                                            "); rvo.recover gives back the " + std::to_string(m_nWritten) +
                                            " frames written",
             dwCloseError);
}

long long MaxFrames(std::optional<long long> frames, std::optional<double> duration, double dFieldDuration) {
    if (!(dFieldDuration > 0)) throw py::value_error("field_duration must be positive");
    if (frames && duration) throw py::value_error("give frames or duration, not both");
    if (frames) return *frames;
    if (duration) {
        if (!(*duration >= 0)) throw py::value_error("duration must be 0 or more");
        return (long long)LastFrameFromDuration(*duration, dFieldDuration) + 1;
    }
    return rvo::kMaxEntries;
}

// Frames from a Python iterable encoded by nThreads workers and appended in order.
long long WriteFrames(const std::string& path, const py::iterable& frames, const std::string& strMode,
                      std::optional<std::pair<int, int>> size, int nThreads, const std::string& strOrder) {
    const Order order = ParseOrder(strOrder);
    CompressionOrFail(strMode);
    nThreads = ResolveThreads(nThreads);
    py::iterator it = py::iter(frames);
    long long nMax = rvo::kMaxEntries;
    if (py::hasattr(frames, "__len__")) nMax = std::max<long long>(1, (long long)py::len(frames));
    // The size: given, or the first frame's.
    py::object first;
    if (it != py::iterator::sentinel()) first = py::reinterpret_borrow<py::object>(*it);
    if (!first) throw py::value_error("no frames to write");
    int cx, cy;
    if (size) {
        cx = size->first;
        cy = size->second;
    } else {
        if (!py::isinstance<py::array>(first) || py::array(first).ndim() != 3)
            throw py::type_error("frame 0: expected a numpy array of shape (height, width, 4) and dtype uint8");
        py::array a(first);
        cx = (int)a.shape(1);
        cy = (int)a.shape(0);
    }
    CheckFrame(first, cx, cy, 0);
    Writer writer(path, strMode, cx, cy, nMax);

    const int nWindow = FramesInFlight(nThreads);
    std::vector<py::object> held((size_t)nWindow);   // the arrays in flight, changed only with the GIL
    py::object pythonError;                          // what the iterable raised
    bool bFailed = true;
    try {
        py::gil_scoped_release nogil;
        std::lock_guard<std::mutex> lk(writer.Lock());
        RunOrdered<EncodeItem>(
            nThreads, nWindow,
            [&](long long k, EncodeItem& item) {
                py::gil_scoped_acquire gil;
                py::object& slot = held[(size_t)(k % nWindow)];
                if (k == 0) {
                    slot = first;
                } else {
                    try {
                        ++it;
                        if (it == py::iterator::sentinel()) {
                            slot = py::object();
                            return false;
                        }
                        slot = py::reinterpret_borrow<py::object>(*it);
                    } catch (py::error_already_set& e) {
                        pythonError = e.value();
                        throw std::runtime_error("the frames' iterable raised");
                    }
                    try {
                        CheckFrame(slot, cx, cy, k);
                    } catch (py::builtin_exception& e) {
                        e.set_error();
                        py::error_already_set err;
                        pythonError = err.value();
                        throw std::runtime_error("bad frame");
                    }
                }
                item.pPixels = static_cast<const DWORD*>(py::array(slot).data());
                return true;
            },
            [&](int, EncodeItem& item) { writer.Encode(item, order); },
            [&](long long, EncodeItem& item) {
                writer.Append(item);
                return true;
            });
        bFailed = false;
    } catch (...) {
        if (!pythonError) throw;
    }
    if (bFailed) {
        // The iterable failed: the frames before stay in an unfinished file, as with a writer's context.
        writer.Abandon();
        PyErr_SetObject((PyObject*)Py_TYPE(pythonError.ptr()), pythonError.ptr());
        throw py::error_already_set();
    }
    writer.Close();
    return writer.Written();
}

}   // namespace rvopy
