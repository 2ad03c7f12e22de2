// The `rvo` Python module: RVO movies as numpy frames. It drives the module
// the way the rvo tool does, through the tool's host sessions (the host
// commands 5, 7, 10 to read; 6, 8's bookkeeping and 10 to write), its reports
// (info, verify, recover) and its ordered pipeline for several threads.
// Frames are decoded straight into the arrays' memory, and the GIL is
// released while frames are read, decoded or encoded. This file binds the
// parts (python/RvoPython.h) into the module.
#include "RvoPython.h"

#include "plugin/Dispatch.h"

using namespace rvopy;

namespace {

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
narrow it down, by the module's error code behind the failure. Bad
arguments raise TypeError or ValueError.
)";

}   // namespace

PYBIND11_MODULE(rvo, m) {
    m.doc() = kModuleDoc;
    m.attr("__version__") = RVO_VERSION;
    RvoModuleAttach();

    RegisterErrors(m);

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

    py::class_<PyVerifyReport>(m, "VerifyReport", "What rvo.verify found.")
        .def_readonly("path", &PyVerifyReport::path)
        .def_readonly("ok", &PyVerifyReport::ok, "True when every frame decodes.")
        .def_readonly("mode", &PyVerifyReport::mode)
        .def_readonly("frames", &PyVerifyReport::frames)
        .def_readonly("checked", &PyVerifyReport::checked, "Records or pictures decoded.")
        .def_readonly("bad_frame", &PyVerifyReport::bad_frame, "The first frame that does not decode, or None (a frame with one damaged copy still decodes).")
        .def_readonly("damaged_copies", &PyVerifyReport::damaged_copies,
                      "Frames that read whole from one copy of their picture while the other copy is damaged, "
                      "one line each, as rvo verify lists them (\"frame 2: the frame-area copy ...\").")
        .def_readonly("problem", &PyVerifyReport::problem)
        .def_readonly("message", &PyVerifyReport::message, "One line, as rvo verify prints it.")
        .def("__bool__", [](const PyVerifyReport& r) { return r.ok; })
        .def("__repr__", [](const PyVerifyReport& r) { return "<rvo.VerifyReport " + r.message + ">"; });

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
          "raw and packed files that do not record it. A finished JPEG movie one of whose two copies of a picture "
          "is damaged is mended from the whole copy instead, as rvo recover does. Returns what was recovered: path "
          "written (None when nothing needed mending), frames written, intact frames, damaged (the input's numbers "
          "of the frames lost; empty when every frame came back intact), repaired (the frames mended), mode, width, "
          "height, dropped_bytes.");
}

