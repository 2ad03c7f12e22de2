// Arguments and arrays: byte orders, thread counts, frames handed in and out.
#include "RvoPython.h"

#include <algorithm>
#include <thread>

#include "container/Limits.h"
#include "container/RvoFormat.h"

namespace rvopy {

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

void CheckSize(int cx, int cy) {
    if (cx <= 0 || cy <= 0 || !rvo::FrameSizeAllowed(cx, cy))
        throw py::value_error("size (" + std::to_string(cx) + ", " + std::to_string(cy) +
                              ") is not a frame size the format takes (1 to " +
                              std::to_string(rvo::kMaxFrameDimension) + " pixels a side)");
}

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

}   // namespace rvopy
