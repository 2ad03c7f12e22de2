// The module's exception classes, and failures raised as them by their error code.
#include "RvoPython.h"

#include <new>

#include "platform/LastError.h"
#include "tools/rvo/ToolSupport.h"

namespace rvopy {

namespace {

enum class ErrorKind { General,
                       Damaged,
                       Sharing,
                       InputOutput,
                       DiskFull };

PyObject* g_pError = nullptr;
PyObject* g_pDamaged = nullptr;
PyObject* g_pSharing = nullptr;
PyObject* g_pInputOutput = nullptr;
PyObject* g_pDiskFull = nullptr;

// The class for a module error code: the system's failures of a transfer
// apart from damage in the file's bytes.
ErrorKind KindOfError(DWORD dwError) {
    if (dwError == ERROR_DISK_FULL) return ErrorKind::DiskFull;
    if (dwError == ERROR_SHARING_VIOLATION) return ErrorKind::Sharing;
    if (IsIoFailure(dwError)) return ErrorKind::InputOutput;
    if (IsDamage(dwError)) return ErrorKind::Damaged;
    return ErrorKind::General;
}

PyObject* ClassOf(ErrorKind k) {
    switch (k) {
    case ErrorKind::Damaged: return g_pDamaged;
    case ErrorKind::Sharing: return g_pSharing;
    case ErrorKind::InputOutput: return g_pInputOutput;
    case ErrorKind::DiskFull: return g_pDiskFull;
    default: return g_pError;
    }
}

// Raises the exception for dwError; one with an error code carries it as
// errno (the C library's, as OSError has it; None when there is none) and winerror.
void RaiseFailure(const char* what, DWORD dwError) {
    PyObject* pClass = ClassOf(KindOfError(dwError));
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

}   // namespace

void Fail(const std::string& what, DWORD dwError) { throw ToolFailure(what, dwError); }

void RegisterErrors(py::module_& m) {
    static py::exception<ToolFailure> error(m, "Error");
    error.doc() = "A failed operation on an RVO file; the message names the file and the problem.";
    g_pError = error.ptr();
    static py::exception<ToolFailure> damaged(m, "DamagedFileError", error.ptr());
    damaged.doc() = "The file is not a whole RVO file: not one at all, damaged, or unfinished (see rvo.recover).";
    g_pDamaged = damaged.ptr();
    static py::exception<ToolFailure> sharing(m, "SharingViolationError", error.ptr());
    sharing.doc() = "The file is open elsewhere: a writer keeps readers out, a reader keeps writers out.";
    g_pSharing = sharing.ptr();
    g_pInputOutput = PyErr_NewExceptionWithDoc(
        "rvo.InputOutputError",
        "The system failed a read or write (an I/O error, access refused, a full disk): the file may be whole. "
        "errno and strerror are the C library's, winerror the module's code; also an OSError.",
        py::make_tuple(py::handle(error.ptr()), py::handle(PyExc_OSError)).ptr(), nullptr);
    if (!g_pInputOutput) throw py::error_already_set();
    m.attr("InputOutputError") = py::handle(g_pInputOutput);
    static py::exception<ToolFailure> full(m, "DiskFullError", g_pInputOutput);
    full.doc() = "The disk filled up while the file was written.";
    g_pDiskFull = full.ptr();
    py::register_exception_translator([](std::exception_ptr p) {
        try {
            if (p) std::rethrow_exception(p);
        } catch (const ToolFailure& e) {
            RaiseFailure(e.what(), e.dwError);
        } catch (const std::bad_alloc&) {
            PyErr_SetString(PyExc_MemoryError, "out of memory");
        }
    });
}

}   // namespace rvopy
