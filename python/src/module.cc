// contentfile._native: the compiled half of the Python package. The
// package's own modules give the Pythonic interface over it.

#include <contentfile.h>
#include <pybind11/pybind11.h>

#include "python/src/batch_binding.h"
#include "python/src/capture_binding.h"
#include "python/src/native_errors.h"

PYBIND11_MODULE(_native, module) {
  module.doc() = "The compiled part of the contentfile package.";
  module.attr("LIBRARY_VERSION") = CONTENTFILE_VERSION_STRING;
  contentfile_python::RegisterErrorTranslator();
  contentfile_python::RegisterCapture(module);
  contentfile_python::RegisterBatch(module);
}
