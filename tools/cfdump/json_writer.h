// A small JSON writer for one line of JSON Lines.
//
// Strings are byte strings of unknown encoding and are written losslessly:
// a string whose bytes are well-formed UTF-8 is written as that text; any
// other string is written byte by byte, every byte from 0x80 as \u0080 to
// \u00ff (one character per byte, as Latin-1 would read it), and the JSON
// Pointer (RFC 6901) of each such string is recorded, so that the report
// can list them: a reader encodes the listed strings as Latin-1 to get
// their bytes back, and every other string as UTF-8. Control characters
// and DEL are escaped in both forms.

#ifndef CONTENTFILE_TOOLS_CFDUMP_JSON_WRITER_H_
#define CONTENTFILE_TOOLS_CFDUMP_JSON_WRITER_H_

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace cfdump {

class JsonWriter {
 public:
  void BeginObject();
  void EndObject();
  void BeginArray();
  void EndArray();
  // Inside an object: the key of the next value (keys are ASCII).
  void Key(const char* key);
  void String(std::string_view bytes);
  void Number(int64_t value);
  void Null();

  const std::string& text() const { return out_; }
  // The JSON Pointers of the strings written byte by byte, in order.
  const std::vector<std::string>& byte_strings() const { return byte_strings_; }

 private:
  struct Level {
    bool array;
    size_t count;     // members or elements written so far
    std::string key;  // objects: the key of the value being written
  };

  // Writes the comma between members and elements.
  void BeforeValue();
  std::string Pointer() const;

  std::string out_;
  std::vector<Level> levels_;
  std::vector<std::string> byte_strings_;
  bool after_key_ = false;
};

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_JSON_WRITER_H_
