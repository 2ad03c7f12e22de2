// The parts of the `rvo` Python module, private to it: errors and arrays
// (Errors.cpp, Arrays.cpp), reading (Reading.cpp), writing (Writing.cpp), the
// tool's reports as Python values (Reports.cpp) and the bindings that make
// them the module (Bindings.cpp).
#pragma once

#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "container/EncodedFrame.h"
#include "platform/Types.h"
#include "tools/rvo/FrameMemory.h"
#include "tools/rvo/HostSession.h"
#include "tools/rvo/InfoReport.h"

namespace py = pybind11;

namespace rvopy {

// ---- errors (Errors.cpp) ----------------------------------------------------

// A failure of the module's own is a ToolFailure (tools/rvo/ToolSupport.h):
// its text is the message, its module error code picks the exception class
// (rvo.DamagedFileError for damage, rvo.SharingViolationError,
// rvo.InputOutputError and its rvo.DiskFullError for the system's failures,
// rvo.Error for the rest and for failures without a code).
[[noreturn]] void Fail(const std::string& what, DWORD dwError = 0);
// The exception classes of module m, and the translation of failures into them.
void RegisterErrors(py::module_& m);

// ---- arrays and arguments (Arrays.cpp) --------------------------------------

enum class Order { BGRA,
                   RGBA };

Order ParseOrder(const std::string& s);
// A thread count: 0 for one per core, at most 64; ValueError below 0.
int ResolveThreads(int n);
// Red and blue swapped: BGRA <-> RGBA, in place or into dst.
void SwapRedBlue(DWORD* p, size_t n);
void SwapRedBlueInto(const DWORD* src, DWORD* dst, size_t n);
// A frame handed in: a C-contiguous uint8 array of shape (height, width, 4).
// Returns its pixels; the array stays owned by the caller. nFrame (or -1)
// names the frame in messages.
const DWORD* CheckFrame(const py::handle& obj, int nWidth, int nHeight, long long nFrame);
// An array given to be filled (out=): C-contiguous, writeable uint8 of the frames' shape.
py::array OutArray(const py::object& out, std::vector<py::ssize_t> shape);
py::array_t<uint8_t> NewFrames(long long n, int nWidth, int nHeight);
py::array_t<uint8_t> NewFrame(int nWidth, int nHeight);
// ValueError unless (cx, cy) is a frame size the format takes.
void CheckSize(int cx, int cy);
// A report of the tool's as Python values: objects as dicts in their order, arrays as lists.
py::object ToPython(const Json& j);
// The storage mode as Python names it: "jpeg", "raw", "packed", "imagelist" or "unknown".
const char* ModeKey(LONG nMode);

// ---- reading (Reading.cpp) --------------------------------------------------

// An RVO file open for reading: the host's commands 5 and 7 through the
// tool's host reader, one call on the handle at a time, the GIL released
// while frames are read.
class Movie {
public:
    Movie(const std::string& path, double dFieldDuration);
    void Close();

    long long Length() const { return m_nFrames; }
    py::tuple Shape() const;
    // The host's duration: the last frame's time, two fields per frame.
    double Duration() const { return m_nFrames > 0 ? (double)(m_nFrames - 1) * 2.0 * m_dFieldDuration : 0.0; }
    py::list Entries() const;
    // Frame i (negative from the end); IndexError out of range.
    long long Index(long long i) const;
    py::array Read(long long i, const std::string& strOrder, const py::object& out = py::none());
    py::array_t<uint8_t> ReadSlice(const py::slice& s, const std::string& strOrder);
    // Frames [start, stop) decoded by nThreads workers, each with its own
    // handle on the file (kept for the next call), straight into one array.
    py::array ReadMany(int nThreads, const std::string& strOrder, long long nStart, std::optional<long long> stop,
                       const py::object& outGiven);
    // The frame the host shows at a time (field number by the host's rounding,
    // two fields per frame, times past the end give the last frame).
    long long IndexAt(double dTime) const;

    const std::string& Path() const { return m_path; }
    LONG Mode() const { return m_nMode; }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    double FieldDuration() const { return m_dFieldDuration; }
    bool Closed() const { return !m_pReader; }

private:
    // Frame k could not be read: a read the system failed, or damage.
    [[noreturn]] void FailFrame(long long k, DWORD dwError) const;
    // Frame k into p (width x height, packed), without the GIL.
    void ReadInto(long long k, DWORD* p, Order order);

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
                     std::optional<long long> stop, const py::object& out);

// ---- writing (Writing.cpp) --------------------------------------------------

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
    ~EncodeItem();
};

// A movie being written: command 6 at creation, each frame encoded as the
// tool's workers do and appended through command 8's bookkeeping, command 10
// when it is finished.
class Writer {
public:
    Writer(const std::string& path, const std::string& strMode, int cx, int cy, long long nMax);

    // Encodes item's pixels into its stored form (any thread, no GIL).
    void Encode(EncodeItem& item, Order order);
    // Appends the next frame (in frame order, one thread at a time); a frame
    // not stored closes the file with the frames before it, as the tool does.
    void Append(EncodeItem& item);
    void AppendArray(const py::handle& obj, const std::string& strOrder);
    // Command 10; a file that could not be finished raises (its frames are for rvo.recover).
    void Close();
    // Stops without finishing: the file stays unfinished, for rvo.recover.
    void Abandon();

    long long Written() const { return m_nWritten; }
    bool Closed() const { return !m_pWriter; }
    const std::string& Path() const { return m_path; }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    const char* Mode() const { return ModeKey(m_nMode); }
    std::mutex& Lock() { return m_lock; }

private:
    // Command 10: 0 when the file is finished, else why not.
    DWORD Finish();
    void CheckWritten(DWORD dwCloseError);

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

// The most frames a new movie takes: frames, or the host's rule for a duration.
long long MaxFrames(std::optional<long long> frames, std::optional<double> duration, double dFieldDuration);
// Frames from a Python iterable encoded by nThreads workers and appended in order.
long long WriteFrames(const std::string& path, const py::iterable& frames, const std::string& strMode,
                      std::optional<std::pair<int, int>> size, int nThreads, const std::string& strOrder);

// ---- info, verify, recover (Reports.cpp) ------------------------------------

py::object Info(const std::string& path);

// rvo.VerifyReport: the tool's verify report (tools/rvo/VerifyReport.h) as Python has it.
struct PyVerifyReport {
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
PyVerifyReport Verify(const std::string& path, int nThreads);

py::dict Recover(const std::string& path, std::optional<std::string> output, bool in_place, bool backup, bool force,
                 bool drop_damaged, std::optional<std::pair<int, int>> size);

}   // namespace rvopy
