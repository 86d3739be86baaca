#include "python/src/native_errors.h"

#include <contentfile.h>

#include <exception>
#include <stdexcept>

namespace py = pybind11;

namespace contentfile_python {
namespace {

// Sets the Python exception that contentfile._errors builds for `failure`.
void Raise(const NativeFailure& failure) {
  try {
    py::object code = failure.code ? py::object(py::int_(*failure.code))
                                   : py::object(py::none());
    py::object error =
        py::module_::import("contentfile._errors")
            .attr("from_native")(failure.operation, code, failure.error_number,
                                 py::bytes(failure.path));
    PyErr_SetObject(reinterpret_cast<PyObject*>(Py_TYPE(error.ptr())),
                    error.ptr());
  } catch (py::error_already_set& e) {
    // Building the exception failed itself (no memory, a broken install):
    // that error is the one to report.
    e.restore();
  }
}

}  // namespace

void Fail(const char* operation, int32_t code, const std::string& path) {
  throw NativeFailure{operation, code, 0, path};
}

void RegisterErrorTranslator() {
  py::register_exception_translator([](std::exception_ptr pointer) {
    if (!pointer) return;
    try {
      std::rethrow_exception(pointer);
    } catch (const NativeFailure& failure) {
      Raise(failure);
    } catch (const ReentryFailure&) {
      PyErr_SetString(PyExc_RuntimeError,
                      "a capture was used from within a callback of its own "
                      "call; copy what the callback needs instead");
    } catch (const CFileError& e) {
      Raise(NativeFailure{"read_head_lines", std::nullopt, e.code().value(),
                          e.path()});
    } catch (const std::invalid_argument&) {
      Raise(NativeFailure{"analyse_head", std::nullopt, 0, std::string()});
    }
  });
}

}  // namespace contentfile_python
