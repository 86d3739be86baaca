// The capture class of the extension module: one library object behind
// one lock, every call made with the GIL released.

#ifndef CONTENTFILE_PYTHON_SRC_CAPTURE_BINDING_H_
#define CONTENTFILE_PYTHON_SRC_CAPTURE_BINDING_H_

#include <pybind11/pybind11.h>

namespace contentfile_python {

void RegisterCapture(pybind11::module_& module);

}  // namespace contentfile_python

#endif  // CONTENTFILE_PYTHON_SRC_CAPTURE_BINDING_H_
