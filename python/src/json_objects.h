// JSON text to Python objects, for the reports that cfdump's JSON writer
// formats: the reports reach Python as the objects json.loads would give,
// without a second pass in Python. The object keys are made once per
// decoder and shared by every value it decodes (a report has some sixty
// keys and few values), so a decoder that lives long pays for them once.

#ifndef CONTENTFILE_PYTHON_SRC_JSON_OBJECTS_H_
#define CONTENTFILE_PYTHON_SRC_JSON_OBJECTS_H_

#include <pybind11/pybind11.h>

#include <string>
#include <string_view>
#include <unordered_map>

namespace contentfile_python {

class JsonObjects {
 public:
  // The value of the JSON text `text` (RFC 8259: objects, arrays, strings,
  // numbers, true, false, null), as json.loads gives it. Raises ValueError
  // for text that is not one JSON value. REQUIRES: the GIL is held. Calls
  // from several threads may overlap (making an object can run Python).
  pybind11::object Decode(std::string_view text);

 private:
  class Parser;

  // The keys made so far, shared by every decoding.
  std::unordered_map<std::string, pybind11::object> keys_;
};

}  // namespace contentfile_python

#endif  // CONTENTFILE_PYTHON_SRC_JSON_OBJECTS_H_
