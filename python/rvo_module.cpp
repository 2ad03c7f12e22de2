// The `rvo` Python module: RVO movies as numpy frames. It drives the module
// the way the rvo tool does, through the tool's host sessions (the host
// commands 5, 7, 10 to read; 6, 8's bookkeeping and 10 to write), its checks
// (info, verify, recover) and its ordered pipeline for several threads.
// Frames are decoded straight into the arrays' memory, and the GIL is
// released while frames are read, decoded or encoded.
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <algorithm>
#include <filesystem>
#include <mutex>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

#include "codec/JpeEngine.h"
#include "container/Limits.h"
#include "recover/Recover.h"
#include "container/RvoFormat.h"
#include "encoder/FrameEncode.h"
#include "platform/CString.h"
#include "platform/LastError.h"
#include "plugin/Dispatch.h"
#include "tools/rvo/FrameMemory.h"
#include "tools/rvo/HostSession.h"
#include "tools/rvo/InfoReport.h"
#include "tools/rvo/OrderedWork.h"
#include "tools/rvo/ThreadsOption.h"
#include "tools/rvo/ToolSupport.h"
#include "tools/rvo/VerifyFile.h"

namespace py = pybind11;

namespace {

// ---- errors -----------------------------------------------------------------

enum class ErrorKind { General,
                       Damaged,
                       Sharing,
                       InputOutput,
                       DiskFull };

// A failure of this module's own, with the kind of rvo.Error it becomes and
// the module's error code behind it (0 when none).
struct RvoFailure : std::runtime_error {
    RvoFailure(ErrorKind k, const std::string& what, DWORD dwCode = 0) : std::runtime_error(what), kind(k), dwError(dwCode) {}
    ErrorKind kind;
    DWORD dwError;
};

PyObject* g_pError = nullptr;
PyObject* g_pDamaged = nullptr;
PyObject* g_pSharing = nullptr;
PyObject* g_pInputOutput = nullptr;
PyObject* g_pDiskFull = nullptr;

bool Contains(const std::string& s, const char* part) { return s.find(part) != std::string::npos; }

// The tool's messages say what went wrong; the exception class follows them.
ErrorKind KindOfMessage(const std::string& m) {
    if (Contains(m, "disk full")) return ErrorKind::DiskFull;
    if (Contains(m, "open elsewhere") || Contains(m, "is being written") || Contains(m, "in use elsewhere"))
        return ErrorKind::Sharing;
    if (Contains(m, "damaged") || Contains(m, "not an RVO file") || Contains(m, "unfinished") ||
        Contains(m, "does not decode") || Contains(m, "cannot be opened by the module"))
        return ErrorKind::Damaged;
    return ErrorKind::General;
}

// The class for a module error code: the system's failures of a transfer
// apart from damage in the file's bytes.
ErrorKind KindOfError(DWORD dwError, ErrorKind otherwise = ErrorKind::General) {
    if (dwError == ERROR_DISK_FULL) return ErrorKind::DiskFull;
    if (dwError == ERROR_SHARING_VIOLATION) return ErrorKind::Sharing;
    if (IsIoFailure(dwError)) return ErrorKind::InputOutput;
    return otherwise;
}

// Raises the exception of kind k; one with an error code carries it as
// errno (the C library's, as OSError has it; None when there is none) and winerror.
void RaiseFailure(ErrorKind k, const char* what, DWORD dwError);

PyObject* ClassOf(ErrorKind k) {
    switch (k) {
    case ErrorKind::Damaged: return g_pDamaged;
    case ErrorKind::Sharing: return g_pSharing;
    case ErrorKind::InputOutput: return g_pInputOutput;
    case ErrorKind::DiskFull: return g_pDiskFull;
    default: return g_pError;
    }
}

void RaiseFailure(ErrorKind k, const char* what, DWORD dwError) {
    PyObject* pClass = ClassOf(k);
    PyObject* pValue = PyObject_CallFunction(pClass, "s", what);
    if (!pValue) return;   // the call's own exception stands
    if (dwError) {
        const int e = ErrnoOf(dwError);
        PyObject* pErrno = e ? PyLong_FromLong(e) : (Py_INCREF(Py_None), Py_None);
        PyObject* pWin = PyLong_FromUnsignedLong(dwError);
        PyObject* pText = PyUnicode_FromString(SystemErrorText(dwError).c_str());
        if (pErrno) PyObject_SetAttrString(pValue, "errno", pErrno);
        if (pText && e) PyObject_SetAttrString(pValue, "strerror", pText);
        if (pWin) PyObject_SetAttrString(pValue, "winerror", pWin);
        Py_XDECREF(pErrno);
        Py_XDECREF(pWin);
        Py_XDECREF(pText);
    }
    PyErr_SetObject(pClass, pValue);
    Py_DECREF(pValue);
}

[[noreturn]] void Fail(ErrorKind k, const std::string& what, DWORD dwError = 0) { throw RvoFailure(k, what, dwError); }

// ---- arguments --------------------------------------------------------------

enum class Order { BGRA,
                   RGBA };

Order ParseOrder(const std::string& s) {
    if (s == "BGRA" || s == "bgra") return Order::BGRA;
    if (s == "RGBA" || s == "rgba") return Order::RGBA;
    throw py::value_error("order must be \"BGRA\" or \"RGBA\", not \"" + s + "\"");
}

int ResolveThreads(int n) {
    if (n < 0) throw py::value_error("threads must be 0 (one per core) or more, not " + std::to_string(n));
    if (n == 0) {
        const unsigned c = std::thread::hardware_concurrency();
        n = c == 0 ? 1 : (int)std::min(c, 64u);
    }
    return std::min(n, 64);
}

// Red and blue swapped in place: BGRA <-> RGBA.
void SwapRedBlue(DWORD* p, size_t n) {
    for (size_t i = 0; i < n; i++) {
        const DWORD v = p[i];
        p[i] = (v & 0xFF00FF00u) | ((v & 0xFFu) << 16) | ((v >> 16) & 0xFFu);
    }
}

void SwapRedBlueInto(const DWORD* src, DWORD* dst, size_t n) {
    for (size_t i = 0; i < n; i++) {
        const DWORD v = src[i];
        dst[i] = (v & 0xFF00FF00u) | ((v & 0xFFu) << 16) | ((v >> 16) & 0xFFu);
    }
}

// A frame handed in: a C-contiguous uint8 array of shape (height, width, 4).
// Returns its pixels; the array stays owned by the caller.
const DWORD* CheckFrame(const py::handle& obj, int nWidth, int nHeight, long long nFrame) {
    const std::string where = nFrame >= 0 ? "frame " + std::to_string(nFrame) + ": " : "";
    if (!py::isinstance<py::array>(obj))
        throw py::type_error(where + "expected a numpy array of shape (height, width, 4) and dtype uint8, got " +
                             std::string(py::str(py::type::of(obj).attr("__name__"))));
    py::array a = py::reinterpret_borrow<py::array>(obj);
    if (!a.dtype().is(py::dtype::of<uint8_t>()))
        throw py::type_error(where + "expected dtype uint8, got " + std::string(py::str(a.dtype())) +
                             " (convert with a.astype(numpy.uint8))");
    auto shapeText = [&] {
        std::string s = "(";
        for (py::ssize_t i = 0; i < a.ndim(); i++) s += (i ? ", " : "") + std::to_string(a.shape(i));
        return s + (a.ndim() == 1 ? ",)" : ")");
    };
    if (a.ndim() != 3 || a.shape(0) != nHeight || a.shape(1) != nWidth || a.shape(2) != 4)
        throw py::value_error(where + "expected shape (" + std::to_string(nHeight) + ", " + std::to_string(nWidth) +
                              ", 4) for the movie's " + std::to_string(nWidth) + "x" + std::to_string(nHeight) +
                              " frames, got " + shapeText());
    if (!(a.flags() & py::array::c_style))
        throw py::value_error(where +
                              "the array is not C-contiguous (a slice or a transposed view); pass "
                              "numpy.ascontiguousarray(frame)");
    return static_cast<const DWORD*>(a.data());
}

// An array given to be filled (out=): C-contiguous, writeable uint8 of the frames' shape.
py::array OutArray(const py::object& out, std::vector<py::ssize_t> shape) {
    std::string want = "(";
    for (size_t i = 0; i < shape.size(); i++) want += (i ? ", " : "") + std::to_string(shape[i]);
    want += ")";
    if (!py::isinstance<py::array>(out))
        throw py::type_error("out must be a numpy array of shape " + want + " and dtype uint8");
    py::array a = py::reinterpret_borrow<py::array>(out);
    if (!a.dtype().is(py::dtype::of<uint8_t>())) throw py::type_error("out must have dtype uint8");
    bool bShape = a.ndim() == (py::ssize_t)shape.size();
    for (size_t i = 0; bShape && i < shape.size(); i++) bShape = a.shape((py::ssize_t)i) == shape[i];
    if (!bShape) throw py::value_error("out must have shape " + want);
    if (!(a.flags() & py::array::c_style) || !a.writeable())
        throw py::value_error("out must be C-contiguous and writeable");
    return a;
}

py::array_t<uint8_t> NewFrames(long long n, int nWidth, int nHeight) {
    return py::array_t<uint8_t>(std::vector<py::ssize_t>{(py::ssize_t)n, nHeight, nWidth, 4});
}

py::array_t<uint8_t> NewFrame(int nWidth, int nHeight) {
    return py::array_t<uint8_t>(std::vector<py::ssize_t>{nHeight, nWidth, 4});
}

// ---- reading ----------------------------------------------------------------

// A report of the tool's (tools/rvo/InfoReport.h) as Python values: objects as
// dicts in their order, arrays as lists.
py::object ToPython(const Json& j) {
    switch (j.type()) {
    case Json::value_t::object: {
        py::dict d;
        for (const auto& [key, value] : j.items()) d[py::str(key)] = ToPython(value);
        return d;
    }
    case Json::value_t::array: {
        py::list l;
        for (const Json& v : j) l.append(ToPython(v));
        return l;
    }
    case Json::value_t::string: return py::str(j.get<std::string>());
    case Json::value_t::boolean: return py::bool_(j.get<bool>());
    case Json::value_t::number_integer: return py::int_(j.get<long long>());
    case Json::value_t::number_unsigned: return py::int_(j.get<unsigned long long>());
    case Json::value_t::number_float: return py::float_(j.get<double>());
    default: return py::none();
    }
}

const char* ModeKey(LONG nMode) {
    switch (nMode) {
    case rvo::ImageList: return "imagelist";
    case rvo::JpegBlobs:
    case rvo::kModeLegacyBlobs: return "jpeg";
    case rvo::RawFrames: return "raw";
    case rvo::PackedFrames: return "packed";
    default: return "unknown";
    }
}

class Movie {
public:
    Movie(const std::string& path, double dFieldDuration) : m_path(path), m_dFieldDuration(dFieldDuration) {
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
            Fail(ErrorKind::Damaged, path + ": damaged RVO file (frame size " + std::to_string(m_nWidth) + "x" +
                                         std::to_string(m_nHeight) + ")");
        m_pReader = std::make_unique<CHostReader>(path);
    }

    void Close() {
        std::lock_guard<std::mutex> lk(m_lock);
        m_workers.clear();
        m_pReader.reset();
    }

    long long Length() const { return m_nFrames; }
    py::tuple Shape() const { return py::make_tuple(m_nFrames, m_nHeight, m_nWidth, 4); }
    // The host's duration: the last frame's time, two fields per frame.
    double Duration() const { return m_nFrames > 0 ? (double)(m_nFrames - 1) * 2.0 * m_dFieldDuration : 0.0; }

    py::list Entries() const {
        py::list l;
        for (const Json& e : m_entries) l.append(ToPython(e));
        return l;
    }

    long long Index(long long i) const {
        if (i < 0) i += m_nFrames;
        if (i < 0 || i >= m_nFrames)
            throw py::index_error("frame " + std::to_string(i) + " out of range (the movie has " +
                                  std::to_string(m_nFrames) + " frames)");
        return i;
    }

    py::array Read(long long i, const std::string& strOrder, const py::object& out = py::none()) {
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

    py::array_t<uint8_t> ReadSlice(const py::slice& s, const std::string& strOrder) {
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

    // Frames [start, stop) decoded by nThreads workers, each with its own
    // handle on the file (kept for the next call), straight into one array.
    py::array ReadMany(int nThreads, const std::string& strOrder, long long nStart, std::optional<long long> stop,
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
        if (!m_pReader) Fail(ErrorKind::General, m_path + ": the movie is closed");
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

    // The frame the host shows at a time (field number by the host's rounding, two fields per frame, times
    // past the end give the last frame).
    long long IndexAt(double dTime) const {
        if (m_nFrames == 0) throw py::index_error("the movie has no frames");
        const long long f = FieldFromTime(dTime, m_dFieldDuration) / 2;
        return std::min(f, m_nFrames - 1);
    }

    const std::string& Path() const { return m_path; }
    LONG Mode() const { return m_nMode; }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    double FieldDuration() const { return m_dFieldDuration; }
    bool Closed() const { return !m_pReader; }

private:
    // Frame k could not be read: a read the system failed, or damage.
    [[noreturn]] void FailFrame(long long k, DWORD dwError) const {
        Fail(KindOfError(dwError, ErrorKind::Damaged), m_path + ": " + DescribeFrameFailure(k, dwError), dwError);
    }

    // Frame k into p (width x height, packed), without the GIL.
    void ReadInto(long long k, DWORD* p, Order order) {
        DWORD dwError;
        {
            std::lock_guard<std::mutex> lk(m_lock);
            if (!m_pReader) Fail(ErrorKind::General, m_path + ": the movie is closed");
            m_pReader->ForgetLastDecoded();
            dwError = m_pReader->ReadFrame(k, p, m_nWidth, m_nHeight, false);
        }
        if (dwError) FailFrame(k, dwError);
        if (order == Order::RGBA) SwapRedBlue(p, (size_t)m_nWidth * (size_t)m_nHeight);
    }

    std::string m_path;
    double m_dFieldDuration;
    long long m_nFrames = 0;
    LONG m_nMode = 0;
    int m_nWidth = 0, m_nHeight = 0;
    std::vector<Json> m_entries;
    std::mutex m_lock;   // one host call on the handle at a time
    std::unique_ptr<CHostReader> m_pReader;
    std::vector<std::unique_ptr<CHostReader>> m_workers;   // the handles of read_frames' other workers
};

struct MovieIterator {
    Movie* pMovie;
    long long k;
};

py::array ReadFrames(const std::string& path, int nThreads, const std::string& strOrder, long long nStart,
                     std::optional<long long> stop, const py::object& out) {
    ParseOrder(strOrder);
    ResolveThreads(nThreads);   // bad arguments before the file
    Movie movie(path, 1.0);
    return movie.ReadMany(nThreads, strOrder, nStart, stop, out);
}

// ---- writing ----------------------------------------------------------------

LONG CompressionOrFail(const std::string& strMode) {
    const LONG n = CompressionForModeName(strMode);
    if (n < 0) throw py::value_error("mode must be \"jpeg\", \"raw\" or \"packed\", not \"" + strMode + "\"");
    return n;
}

void CheckSize(int cx, int cy) {
    if (cx <= 0 || cy <= 0 || !rvo::FrameSizeAllowed(cx, cy))
        throw py::value_error("size (" + std::to_string(cx) + ", " + std::to_string(cy) +
                              ") is not a frame size the format takes (1 to " +
                              std::to_string(rvo::kMaxFrameDimension) + " pixels a side)");
}

// One frame on its way into a file: its pixels (turned into BGRA when they
// came as RGBA), encoded into its stored form, appended in frame order.
struct EncodeItem {
    const DWORD* pPixels = nullptr;
    std::vector<DWORD> swapped;
    CFrameMemory record;
    RvoEncodedFrame frame;

    EncodeItem() = default;
    EncodeItem(const EncodeItem&) = delete;
    EncodeItem& operator=(const EncodeItem&) = delete;
    ~EncodeItem() {
        if (frame.hBlob) CJpeEngine::FreeBlob(frame.hBlob);
    }
};

// A movie being written: command 6 at creation, each frame encoded as the
// tool's workers do and appended through command 8's bookkeeping, command 10
// when it is finished.
class Writer {
public:
    Writer(const std::string& path, const std::string& strMode, int cx, int cy, long long nMax)
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

    // Encodes item's pixels into its stored form (any thread, no GIL).
    void Encode(EncodeItem& item, Order order) {
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

    // Appends the next frame (in frame order, one thread at a time); a frame
    // not stored closes the file with the frames before it, as the tool does.
    void Append(EncodeItem& item) {
        if (!m_pWriter) Fail(ErrorKind::General, m_path + ": the writer is closed");
        const long long nFrame = m_nWritten;
        // A JPEG frame the codec could not compress is kept as an entry without a picture.
        const bool bKept = m_nMode == rvo::JpegBlobs && !item.frame.hBlob && !item.frame.bFailed;
        SetLastError(ERROR_SUCCESS);
        const int rc = m_pWriter->Append(item.frame);
        if (rc == kHostRefused) {
            Fail(ErrorKind::General, m_path + ": frame " + std::to_string(nFrame) + " refused: the movie was created for " +
                                         std::to_string(m_nMax) + " frames");
        }
        if (rc != kHostDone) {
            const DWORD dwError = GetLastError();
            m_nWritten += bKept ? 1 : 0;
            const DWORD dwCloseError = Finish();
            const std::string why = DescribeUnstoredFrame(bKept, dwError);
            Fail(KindOfError(dwError), m_path + ": frame " + std::to_string(nFrame) + " failed (" + why +
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

    void AppendArray(const py::handle& obj, const std::string& strOrder) {
        const Order order = ParseOrder(strOrder);
        const DWORD* p = CheckFrame(obj, m_nWidth, m_nHeight, -1);
        py::gil_scoped_release nogil;
        std::lock_guard<std::mutex> lk(m_lock);
        if (!m_pWriter) Fail(ErrorKind::General, m_path + ": the writer is closed");
        m_item.pPixels = p;
        Encode(m_item, order);
        Append(m_item);
    }

    // Command 10; a file that could not be finished raises (its frames are for rvo.recover).
    void Close() {
        py::gil_scoped_release nogil;
        std::lock_guard<std::mutex> lk(m_lock);
        if (!m_pWriter) return;
        const DWORD dwError = Finish();
        CheckWritten(dwError);
    }

    // Stops without finishing: the file stays unfinished, for rvo.recover.
    void Abandon() {
        py::gil_scoped_release nogil;
        std::lock_guard<std::mutex> lk(m_lock);
        if (m_pWriter) m_pWriter->Abandon();
        m_pWriter.reset();
    }

    long long Written() const { return m_nWritten; }
    bool Closed() const { return !m_pWriter; }
    const std::string& Path() const { return m_path; }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    const char* Mode() const { return ModeKey(m_nMode); }
    std::mutex& Lock() { return m_lock; }

private:
    // Command 10: 0 when the file is finished, else why not.
    DWORD Finish() {
        const DWORD dwError = m_pWriter ? m_pWriter->Close() : 0;
        m_pWriter.reset();
        return dwError;
    }

    void CheckWritten(DWORD dwCloseError) {
        if (m_nWritten == 0) {
            // A movie without frames is of no use to anyone; leave nothing behind.
            std::error_code ec;
            std::filesystem::remove(m_path, ec);
            Fail(ErrorKind::General, m_path + ": no frames were appended; the file is removed");
        }
        if (dwCloseError)
            Fail(KindOfError(dwCloseError), m_path + ": finishing the file failed (" + DescribeLastError(dwCloseError) +
                                                "); rvo.recover gives back the " + std::to_string(m_nWritten) +
                                                " frames written",
                 dwCloseError);
    }

    std::string m_path;
    LONG m_nCompression;
    LONG m_nMode;
    int m_nWidth, m_nHeight;
    long long m_nMax;
    DWORD m_nBufferBytes = 0;
    long long m_nWritten = 0;
    EncodeItem m_item;
    std::mutex m_lock;
    std::unique_ptr<CHostWriter> m_pWriter;
};

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

// ---- info, verify, recover --------------------------------------------------

py::object Info(const std::string& path) {
    Json report;
    {
        py::gil_scoped_release nogil;
        std::unique_ptr<CRvoFile> f = OpenRvoOrFail(path);
        report = InfoReport(*f);
        f->Close(FALSE);
        FailIfUnfinished(path);
    }
    return ToPython(report);
}

struct VerifyReport {
    std::string path;
    bool ok = false;
    std::string mode;
    long long frames = 0;
    long long checked = 0;
    std::optional<long long> bad_frame;
    std::vector<std::string> damaged_copies;
    std::string problem;
    std::string message;
};

VerifyReport Verify(const std::string& path, int nThreads) {
    nThreads = ResolveThreads(nThreads);
    VerifyReport r;
    r.path = path;
    py::gil_scoped_release nogil;
    try {
        std::unique_ptr<CRvoFile> file = OpenRvoOrFail(path);
        FailIfUnfinished(path);
        CheckedFrameCount(*file, path);
        const LONG nMode = file->Header().m_nMode;
        r.mode = ModeKey(nMode);
        VerifyResult v = VerifyFrames(*file, path, nThreads, nullptr);
        file->Close(FALSE);
        r.frames = v.nFrames;
        r.checked = v.nChecked;
        r.damaged_copies = v.damagedCopies;
        // A read the system failed says nothing about the file: it raises.
        if (v.nBadFrame >= 0 && IsIoFailure(v.dwBadError))
            Fail(KindOfError(v.dwBadError), path + ": " + DamageSummary(v), v.dwBadError);
        if (v.nBadFrame >= 0) {
            r.bad_frame = v.nBadFrame;
            r.problem = v.strProblem;
            r.message = path + ": frame " + std::to_string(v.nBadFrame) + " does not decode (" + v.strProblem + ")";
            return r;
        }
        if (!v.damagedCopies.empty()) {
            // Every frame reads whole, but a picture has a damaged copy: the file is damaged.
            r.problem = DamageSummary(v);
            r.message = path + ": " + r.problem;
            return r;
        }
        r.ok = true;
        r.message = path + ": " + std::to_string(v.nFrames) + " frames, all decode (" + ModeName(nMode) + ", " +
                    std::to_string(v.nChecked) + (rvo::IsRecordMode(nMode) ? " records" : " pictures") + " checked)";
    } catch (const ToolFailure& e) {
        // A file that is not whole is the report's business; a missing or busy file is an error.
        if (KindOfMessage(e.what()) != ErrorKind::Damaged) throw;
        r.ok = false;
        r.message = e.what();
        r.problem = r.message.substr(std::min(r.message.size(), path.size() + 2));
    }
    return r;
}

py::dict Recover(const std::string& path, std::optional<std::string> output, bool in_place, bool backup, bool force,
                 bool drop_damaged, std::optional<std::pair<int, int>> size) {
    if (output && in_place) throw py::value_error("output and in_place exclude each other");
    SIZE sz{0, 0};
    if (size) {
        CheckSize(size->first, size->second);
        sz = SIZE{size->first, size->second};
    }
    RvoUnfinished scan;
    std::string strOut;
    {
        py::gil_scoped_release nogil;
        scan = ScanRvoOrFail(path, size ? &sz : nullptr);
        if (!scan.bUnfinished)
            FailFile(path, "not an unfinished RVO file (its writer closed it); nothing to recover");
        if (!scan.bSizeKnown)
            FailFile(path, std::string("unfinished ") + ModeName(scan.nMode) +
                               " file without a recorded frame size; give it with size=(width, height)");
        RecoverTarget t;
        t.strOutput = output ? *output : std::string();
        t.bInPlace = in_place;
        t.bNoBackup = !backup;
        t.bForce = force;
        t.eDamaged = drop_damaged ? kDropDamaged : kReplaceDamaged;
        strOut = WriteRecoveredOrFail(path, scan, t);
    }
    py::list damaged;
    size_t nWritten = scan.nFrames;
    bool bWhole = false;
    for (size_t i = 0; i < scan.frames.size(); i++) {
        if (!scan.frames[i].bDamaged) {
            bWhole = true;
            continue;
        }
        damaged.append(i);
        if (!drop_damaged && (bWhole || (scan.nWidth > 0 && scan.nHeight > 0))) nWritten++;
    }
    py::dict d;
    d["path"] = strOut;
    d["mode"] = ModeKey(scan.nMode);
    d["frames"] = nWritten;
    d["intact"] = scan.nFrames;
    d["damaged"] = damaged;
    d["width"] = scan.nWidth;
    d["height"] = scan.nHeight;
    d["dropped_bytes"] = (unsigned long long)(scan.nFileBytes - scan.nFramesEnd);
    return d;
}

const char* kModuleDoc = R"(RVO movies as numpy frames.

RVO files hold frames of 32-bit pixels, bytes blue, green, red, alpha, each
frame stored on its own: "jpeg" (two JPEG streams per frame, lossy), "raw"
(uncompressed records) or "packed" (lossless run-length records); image
lists (frames named as external still images) are read too. This module
reads and writes them through the same host commands as the rvo tool.

A frame is a numpy array of shape (height, width, 4) and dtype uint8, in
the file's byte order B, G, R, A unless order="RGBA" is given.

Example: mark every frame of a movie with a bar that grows by 4 pixels a
frame, and write it back losslessly.

    import rvo
    with rvo.open("clip.rvo") as movie, \
         rvo.create("marked.rvo", mode="packed", size=(movie.width, movie.height),
                    frames=len(movie)) as out:
        for k, frame in enumerate(movie):        # (height, width, 4) uint8, BGRA
            frame[8:16, 8:8 + 4 * k] = (0, 0, 0, 255)
            out.append(frame)
    print(rvo.verify("marked.rvo").message)

rvo.read_frames(path, threads=0) and rvo.write_frames(path, frames, threads=0)
do the same on every core (0: one thread per core), in frame order.

Errors are rvo.Error with the tool's messages; rvo.DamagedFileError (the
file's bytes), rvo.SharingViolationError, rvo.InputOutputError (the system
failed a read or write; errno as OSError has it) and its rvo.DiskFullError
narrow it down. Bad arguments raise TypeError or ValueError.
)";

}   // namespace

PYBIND11_MODULE(rvo, m) {
    m.doc() = kModuleDoc;
    m.attr("__version__") = RVO_VERSION;
    RvoModuleAttach();

    static py::exception<RvoFailure> error(m, "Error");
    error.doc() = "A failed operation on an RVO file; the message names the file and the problem.";
    g_pError = error.ptr();
    static py::exception<RvoFailure> damaged(m, "DamagedFileError", error.ptr());
    damaged.doc() = "The file is not a whole RVO file: not one at all, damaged, or unfinished (see rvo.recover).";
    g_pDamaged = damaged.ptr();
    static py::exception<RvoFailure> sharing(m, "SharingViolationError", error.ptr());
    sharing.doc() = "The file is open elsewhere: a writer keeps readers out, a reader keeps writers out.";
    g_pSharing = sharing.ptr();
    g_pInputOutput = PyErr_NewExceptionWithDoc(
        "rvo.InputOutputError",
        "The system failed a read or write (an I/O error, access refused, a full disk): the file may be whole. "
        "errno and strerror are the C library's, winerror the module's code; also an OSError.",
        py::make_tuple(py::handle(error.ptr()), py::handle(PyExc_OSError)).ptr(), nullptr);
    if (!g_pInputOutput) throw py::error_already_set();
    m.attr("InputOutputError") = py::handle(g_pInputOutput);
    static py::exception<RvoFailure> full(m, "DiskFullError", g_pInputOutput);
    full.doc() = "The disk filled up while the file was written.";
    g_pDiskFull = full.ptr();
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const RvoFailure& e) {
            RaiseFailure(e.kind, e.what(), e.dwError);
        } catch (const ToolFailure& e) {
            RaiseFailure(KindOfError(e.dwError, KindOfMessage(e.what())), e.what(), e.dwError);
        } catch (const std::bad_alloc&) {
            PyErr_SetString(PyExc_MemoryError, "out of memory");
        }
    });

    py::class_<MovieIterator>(m, "_MovieIterator")
        .def("__iter__", [](MovieIterator& it) -> MovieIterator& { return it; })
        .def("__next__", [](MovieIterator& it) {
            if (it.k >= it.pMovie->Length()) throw py::stop_iteration();
            return it.pMovie->Read(it.k++, "BGRA");
        });

    py::class_<Movie>(m, "Movie", "An RVO file open for reading (rvo.open).")
        .def_property_readonly("path", &Movie::Path)
        .def_property_readonly(
            "mode", [](const Movie& mv) { return ModeKey(mv.Mode()); },
            "The storage mode: \"jpeg\", \"raw\", \"packed\" or \"imagelist\".")
        .def_property_readonly("width", &Movie::Width)
        .def_property_readonly("height", &Movie::Height)
        .def_property_readonly("shape", &Movie::Shape, "(frames, height, width, 4)")
        .def_property_readonly("duration", &Movie::Duration,
                               "The host's duration: (frames - 1) x 2 x field_duration, the last frame's time.")
        .def_property_readonly("field_duration", &Movie::FieldDuration)
        .def_property_readonly("entries", &Movie::Entries,
                               "The index entries (JPEG and image-list files) as dicts, the keys of rvo info --json.")
        .def_property_readonly("closed", &Movie::Closed)
        .def("__len__", &Movie::Length)
        .def(
            "__getitem__", [](Movie& mv, long long i) { return mv.Read(i, "BGRA"); }, py::arg("index"),
            "Frame i as a (height, width, 4) uint8 array, BGRA.")
        .def(
            "__getitem__", [](Movie& mv, const py::slice& s) { return mv.ReadSlice(s, "BGRA"); },
            "Frames of a slice as a (n, height, width, 4) uint8 array, BGRA.")
        .def("read", &Movie::Read, py::arg("index"), py::arg("order") = "BGRA", py::arg("out") = py::none(),
             "Frame i as a (height, width, 4) uint8 array in the order \"BGRA\" (the file's) or \"RGBA\"; "
             "into out (such an array, C-contiguous) when given.")
        .def(
            "frame_at", [](Movie& mv, double t, const std::string& order) { return mv.Read(mv.IndexAt(t), order); },
            py::arg("time"), py::arg("order") = "BGRA",
            "The frame a host shows at a time: field number = time / field_duration rounded as the host "
            "rounds (a fraction up to 0.501 down), two fields per frame, the last frame for times past the end.")
        .def("read_frames", &Movie::ReadMany, py::kw_only(), py::arg("threads") = 0, py::arg("order") = "BGRA",
             py::arg("start") = 0, py::arg("stop") = py::none(), py::arg("out") = py::none(),
             "Frames start to stop (default all) decoded on threads workers (0: one per core), each with its own "
             "handle (kept open for the next call), straight into one (n, height, width, 4) uint8 array (out, "
             "C-contiguous, when given).")
        .def("index_at", &Movie::IndexAt, py::arg("time"), "The frame number frame_at(time) reads.")
        .def(
            "__iter__", [](Movie& mv) { return MovieIterator{&mv, 0}; }, py::keep_alive<0, 1>(),
            "The frames in order, BGRA.")
        .def("close", &Movie::Close, "Closes the file (also at the end of a with block).")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](Movie& mv, py::args) { mv.Close(); })
        .def("__repr__", [](const Movie& mv) {
            return "<rvo.Movie '" + mv.Path() + "' " + ModeKey(mv.Mode()) + " " + std::to_string(mv.Width()) + "x" +
                   std::to_string(mv.Height()) + ", " + std::to_string(mv.Length()) + " frames>";
        });

    py::class_<Writer>(m, "Writer", "An RVO file being written (rvo.create).")
        .def_property_readonly("path", &Writer::Path)
        .def_property_readonly("mode", &Writer::Mode)
        .def_property_readonly("width", &Writer::Width)
        .def_property_readonly("height", &Writer::Height)
        .def_property_readonly("closed", &Writer::Closed)
        .def("__len__", &Writer::Written, "Frames appended so far.")
        .def("append", &Writer::AppendArray, py::arg("frame"), py::arg("order") = "BGRA",
             "Appends a frame: a C-contiguous (height, width, 4) uint8 array, \"BGRA\" or \"RGBA\".")
        .def("close", &Writer::Close,
             "Finishes the file and checks that it holds the frames appended; a writer without frames removes it.")
        .def("abandon", &Writer::Abandon,
             "Stops without finishing the file: it stays unfinished, and rvo.recover rebuilds its whole frames.")
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](Writer& w, py::object type, py::object, py::object) {
            // A normal exit finishes the file; an exception leaves it recoverable.
            if (type.is_none())
                w.Close();
            else
                w.Abandon();
        });

    py::class_<VerifyReport>(m, "VerifyReport", "What rvo.verify found.")
        .def_readonly("path", &VerifyReport::path)
        .def_readonly("ok", &VerifyReport::ok, "True when every frame decodes.")
        .def_readonly("mode", &VerifyReport::mode)
        .def_readonly("frames", &VerifyReport::frames)
        .def_readonly("checked", &VerifyReport::checked, "Records or pictures decoded.")
        .def_readonly("bad_frame", &VerifyReport::bad_frame, "The first frame that does not decode, or None (a frame with one damaged copy still decodes).")
        .def_readonly("damaged_copies", &VerifyReport::damaged_copies,
                      "Frames that read whole from one copy of their picture while the other copy is damaged, "
                      "one line each, as rvo verify lists them (\"frame 2: the frame-area copy ...\").")
        .def_readonly("problem", &VerifyReport::problem)
        .def_readonly("message", &VerifyReport::message, "One line, as rvo verify prints it.")
        .def("__bool__", [](const VerifyReport& r) { return r.ok; })
        .def("__repr__", [](const VerifyReport& r) { return "<rvo.VerifyReport " + r.message + ">"; });

    m.def(
        "open", [](const std::string& path, double fd) { return std::make_unique<Movie>(path, fd); },
        py::arg("path"), py::arg("field_duration") = 1.0,
        "Opens an RVO file for reading. Times (duration, frame_at) are in units of one field: a frame spans "
        "two fields of field_duration.");
    m.def(
        "create",
        [](const std::string& path, const std::string& mode, std::pair<int, int> size, std::optional<long long> frames,
           std::optional<double> duration, double fd) {
            return std::make_unique<Writer>(path, mode, size.first, size.second, MaxFrames(frames, duration, fd));
        },
        py::arg("path"), py::kw_only(), py::arg("mode"), py::arg("size"), py::arg("frames") = py::none(),
        py::arg("duration") = py::none(), py::arg("field_duration") = 1.0,
        "Creates an RVO file (replacing one that is not in use) for frames of size (width, height), "
        "mode \"jpeg\", \"raw\" or \"packed\". frames= is the most it takes, or duration= the last frame's time "
        "(the host's rule: duration / (2 x field_duration) + 1 frames, rounded as the host rounds).");
    m.def("read_frames", &ReadFrames, py::arg("path"), py::kw_only(), py::arg("threads") = 0,
          py::arg("order") = "BGRA", py::arg("start") = 0, py::arg("stop") = py::none(), py::arg("out") = py::none(),
          "Frames start to stop (default all) decoded on threads workers (0: one per core), each with its own "
          "handle, straight into one (n, height, width, 4) uint8 array (out, C-contiguous, when given).");
    m.def("write_frames", &WriteFrames, py::arg("path"), py::arg("frames"), py::kw_only(), py::arg("mode"),
          py::arg("size") = py::none(), py::arg("threads") = 0, py::arg("order") = "BGRA",
          "Writes the frames of an iterable (arrays, or one (n, height, width, 4) array) into a new file, encoded "
          "on threads workers (0: one per core) and appended in frame order; the file is the same whatever the "
          "count. The size defaults to the first frame's. Returns the number of frames written.");
    m.def("info", &Info, py::arg("path"), "The header and index entries, the keys of rvo info --json.");
    m.def("verify", &Verify, py::arg("path"), py::kw_only(), py::arg("threads") = 0,
          "Checks that every frame decodes; a report (ok, bad_frame, damaged_copies, message), raising nothing for a damaged file.");
    m.def("recover", &Recover, py::arg("path"), py::kw_only(), py::arg("output") = py::none(),
          py::arg("in_place") = false, py::arg("backup") = true, py::arg("force") = false,
          py::arg("drop_damaged") = false, py::arg("size") = py::none(),
          "Rebuilds a file whose writer stopped before closing it into a new file: output, or by default the path "
          "with -recovered before its extension; an existing file is replaced only with force. in_place replaces "
          "path, keeping the original as path.bak unless backup=False. A damaged frame's place is filled with the "
          "previous whole frame (or a transparent one), or it is left out with drop_damaged. size=(w, h) only for "
          "raw and packed files that do not record it. Returns what was recovered: path written, frames written, "
          "intact frames, damaged (the input's numbers of the damaged frames; empty when every frame came back "
          "intact), mode, width, height, dropped_bytes.");
}
