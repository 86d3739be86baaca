// Failures of the library as the extension module reports them: a C++
// exception that carries what failed, which the module's translator turns
// into the package's Python exception (contentfile._errors.from_native
// picks the class and the message).

#ifndef CONTENTFILE_PYTHON_SRC_NATIVE_ERRORS_H_
#define CONTENTFILE_PYTHON_SRC_NATIVE_ERRORS_H_

#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>

namespace contentfile_python {

// What failed: `operation` names the call (the Python side maps each
// operation's codes to words); `code` is the library's result code, absent
// for a raised error; `error_number` is the errno of a raised file error.
struct NativeFailure {
  std::string operation;
  std::optional<int32_t> code;
  int error_number = 0;
  std::string path;
};

// Raised by calls that got a failing result code.
[[noreturn]] void Fail(const char* operation, int32_t code,
                       const std::string& path = std::string());

// A second use of an object from the thread that already holds it (a
// callback of a streaming call that turns back to its own capture).
struct ReentryFailure {};

// Installs the translator of NativeFailure, ReentryFailure and the
// library's raised errors (CFileError, std::invalid_argument).
void RegisterErrorTranslator();

}  // namespace contentfile_python

#endif  // CONTENTFILE_PYTHON_SRC_NATIVE_ERRORS_H_
