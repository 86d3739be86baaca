#include "tools/cfdump/charset.h"

#include <iconv.h>

#include <cerrno>

#include "tools/cfdump/utf8.h"

namespace cfdump {
namespace {

constexpr size_t kOutputStep = 4096;
const iconv_t kNoConverter = reinterpret_cast<iconv_t>(-1);

bool IsUtf8(std::string_view bytes) {
  for (size_t pos = 0; pos < bytes.size();) {
    const size_t length = Utf8SequenceLength(bytes, pos, nullptr);
    if (length == 0) return false;
    pos += length;
  }
  return true;
}

class Converter {
 public:
  explicit Converter(const std::string& from)
      : handle_(::iconv_open("UTF-8", from.c_str())) {}
  ~Converter() {
    if (handle_ != kNoConverter) ::iconv_close(handle_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool valid() const { return handle_ != kNoConverter; }

  // Returns 0 or the errno of the failure.
  int Convert(std::string_view bytes, std::string* out) {
    char* in = const_cast<char*>(bytes.data());
    size_t in_left = bytes.size();
    char step[kOutputStep];
    // A last call without input flushes any shift state.
    for (bool flushing = false;;) {
      char* next = step;
      size_t room = sizeof(step);
      const size_t rc = flushing
                            ? ::iconv(handle_, nullptr, nullptr, &next, &room)
                            : ::iconv(handle_, &in, &in_left, &next, &room);
      const int error = rc == static_cast<size_t>(-1) ? errno : 0;
      out->append(step, static_cast<size_t>(next - step));
      if (error == E2BIG) continue;
      if (error != 0) return error;
      if (flushing) return 0;
      flushing = true;
    }
  }

 private:
  iconv_t handle_;
};

}  // namespace

bool ConvertToUtf8(std::string_view bytes, std::string_view charset,
                   std::string* utf8, std::string* why) {
  utf8->assign(bytes.data(), bytes.size());
  if (charset.empty()) {
    if (IsUtf8(bytes)) return true;
    *why = "no charset is declared and the bytes are not UTF-8";
    return false;
  }
  Converter converter{std::string(charset)};
  if (!converter.valid()) {
    *why = "the charset \"" + std::string(charset) + "\" is not known";
    return false;
  }
  std::string converted;
  if (converter.Convert(bytes, &converted) != 0) {
    *why = "the bytes are not valid " + std::string(charset);
    return false;
  }
  *utf8 = std::move(converted);
  return true;
}

}  // namespace cfdump
