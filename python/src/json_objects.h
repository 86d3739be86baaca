// JSON text to Python objects, for the reports that cfdump's JSON writer
// formats: the reports reach Python as the objects json.loads would give,
// without a second pass in Python, their keys shared as interned strings.

#ifndef CONTENTFILE_PYTHON_SRC_JSON_OBJECTS_H_
#define CONTENTFILE_PYTHON_SRC_JSON_OBJECTS_H_

#include <pybind11/pybind11.h>

#include <string>
#include <string_view>

namespace contentfile_python {

class JsonObjects {
 public:
  // The value of the JSON text `text` (RFC 8259: objects, arrays, strings,
  // numbers, true, false, null), as json.loads gives it. Raises ValueError
  // for text that is not one JSON value. REQUIRES: the GIL is held.
  pybind11::object Decode(std::string_view text);

 private:
  pybind11::object Value();
  pybind11::object Object();
  pybind11::object Array();
  pybind11::object Number();
  // The string at the current quote; `key` strings are interned.
  pybind11::object String(bool key);
  // The characters of the string at the current quote, escapes decoded,
  // as UTF-8 in *out; the position moves past its closing quote.
  void StringText(std::string* out);
  void SkipSpace();
  void Expect(char c);
  [[noreturn]] void Malformed() const;

  std::string_view text_;
  size_t at_ = 0;
  int depth_ = 0;
  std::string scratch_;
};

}  // namespace contentfile_python

#endif  // CONTENTFILE_PYTHON_SRC_JSON_OBJECTS_H_
