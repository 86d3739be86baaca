#include "python/src/capture_binding.h"

#include <contentfile.h>
#include <pybind11/functional.h>
#include <pybind11/stl.h>

#include <cstring>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "python/src/native_errors.h"
#include "python/src/object_lock.h"
#include "tools/cfdump/capture.h"

namespace py = pybind11;

namespace contentfile_python {
namespace {

// The library's "no file open" and "no mail parsed": a closed capture.
constexpr int32_t kClosed = -1;

constexpr size_t kNameBufferSize = 261;

std::string FieldText(const char* field, size_t width) {
  return std::string(field, strnlen(field, width));
}

// A bytes object of `size` bytes filled by `fill`, which runs with the GIL
// released and returns how many bytes it wrote (at most `size`).
template <typename Fill>
py::bytes FilledBytes(size_t size, Fill&& fill) {
  PyObject* raw =
      PyBytes_FromStringAndSize(nullptr, static_cast<Py_ssize_t>(size));
  if (raw == nullptr) throw py::error_already_set();
  char* data = PyBytes_AS_STRING(raw);
  size_t written;
  try {
    written = fill(data);
  } catch (...) {
    Py_DECREF(raw);
    throw;
  }
  if (written < size &&
      _PyBytes_Resize(&raw, static_cast<Py_ssize_t>(written)) != 0) {
    throw py::error_already_set();
  }
  return py::reinterpret_steal<py::bytes>(raw);
}

class NativeCapture {
 public:
  // Opens `path` as the kind `wanted` (a LOG_TYPE_ value), or, when it is
  // negative, as the kind its head line 2 names.
  NativeCapture(const std::string& path, int wanted) : path_(path) {
    if (path.find('\0') != std::string::npos) {
      throw py::value_error("embedded null byte in the path");
    }
    lock_.Run([&] { Open(wanted); });
  }

  const std::string& path() const { return path_; }
  int32_t kind() const { return kind_; }

  bool closed() {
    return lock_.Run([&] { return file_ == nullptr; });
  }

  void Close() {
    lock_.Run([&] {
      mail_ = nullptr;
      http_post_ = nullptr;
      file_.reset();
    });
  }

  std::pair<uint32_t, uint32_t> Sizes() {
    return lock_.Run([&] {
      File("sizes");
      return std::make_pair(file_->GetHeadSize(), file_->GetBodySize());
    });
  }

  py::bytes Head() { return Range("read_head", false); }
  py::bytes Body() { return Range("read_body", false, true); }

  // The first `limit` bytes of the body at most.
  py::bytes BodyPrefix(uint32_t limit) {
    return Range("read_body", true, true, limit);
  }

  py::object LogHead() {
    struct Copy {
      ST_LOG_INFO info;
      bool has_line9 = false;
      std::string line9;
    };
    std::optional<Copy> copy = lock_.Run([&]() -> std::optional<Copy> {
      File("log");
      Copy c;
      if (mail_ != nullptr) {
        c.info = mail_->GetLogInfo();
      } else if (http_post_ != nullptr) {
        const ST_HTTPPOST_LOG_INFO& info = http_post_->GetLogInfo();
        c.info = info;
        c.has_line9 = true;
        c.line9 = FieldText(info.szLine9, sizeof(info.szLine9));
      } else {
        return std::nullopt;
      }
      return c;
    });
    if (!copy) return py::none();
    const ST_LOG_INFO& i = copy->info;
    py::dict log;
    log["log_type"] = i.nLogType;
    log["line3"] = py::bytes(FieldText(i.szLine3, sizeof(i.szLine3)));
    log["line4_left"] =
        py::bytes(FieldText(i.szLine4Left, sizeof(i.szLine4Left)));
    log["line4_right"] =
        py::bytes(FieldText(i.szLine4Right, sizeof(i.szLine4Right)));
    log["addr1"] = i.dwAddr1;
    log["port1"] = i.wPort1;
    log["addr2"] = i.dwAddr2;
    log["port2"] = i.wPort2;
    log["line9"] = copy->has_line9 ? py::object(py::bytes(copy->line9))
                                   : py::object(py::none());
    log["line11"] = py::bytes(FieldText(i.szLine11, sizeof(i.szLine11)));
    log["line12"] = py::bytes(FieldText(i.szLine12, sizeof(i.szLine12)));
    log["line13"] = py::bytes(FieldText(i.szLine13, sizeof(i.szLine13)));
    log["line14"] = py::bytes(FieldText(i.szLine14, sizeof(i.szLine14)));
    return std::move(log);
  }

  void SaveBodyToPath(const std::string& target) {
    if (target.find('\0') != std::string::npos) {
      throw py::value_error("embedded null byte in the path");
    }
    int32_t rc = lock_.Run([&] {
      File("save_body");
      return file_->SaveBody2File(target.c_str());
    });
    if (rc != 0) Fail("save_body", rc, target);
  }

  void SaveBodyToFd(int fd) {
    int32_t rc = lock_.Run([&] {
      File("save_body_fd");
      return file_->SaveBody2Fd(fd);
    });
    if (rc != 0) Fail("save_body_fd", rc);
  }

  // The mail calls.

  py::bytes RecordField(int field) {
    std::string value;
    int32_t rc = lock_.Run([&] {
      return Mail("record_field")
          ->GetRecordField(static_cast<contentfile::RecordField>(field), value);
    });
    if (rc != 0) Fail("record_field", rc);
    return py::bytes(value);
  }

  py::list HeaderFields(const std::string& name) {
    std::vector<contentfile::HeaderField> fields;
    int32_t rc = lock_.Run(
        [&] { return Mail("header_fields")->GetHeaderFields(name, fields); });
    if (rc != 0) Fail("header_fields", rc);
    py::list out;
    for (const contentfile::HeaderField& field : fields) {
      py::list segments;
      for (const contentfile::HeaderSegment& segment : field.segments) {
        segments.append(py::make_tuple(py::bytes(segment.text),
                                       py::bytes(segment.charset)));
      }
      out.append(py::make_tuple(py::bytes(field.name), py::bytes(field.raw),
                                py::bytes(field.decoded), segments));
    }
    return out;
  }

  py::list Parts() {
    std::vector<contentfile::PartInfo> parts;
    int32_t rc = lock_.Run([&] { return Mail("parts")->GetParts(parts); });
    if (rc != 0) Fail("parts", rc);
    py::list out;
    for (const contentfile::PartInfo& part : parts) {
      py::dict d;
      d["kind"] = static_cast<int>(part.kind);
      d["attachment_index"] = part.attachment_index;
      d["media_type"] = py::bytes(part.media_type);
      d["charset"] = py::bytes(part.charset);
      d["format"] = py::bytes(part.format);
      d["delsp"] = py::bytes(part.delsp);
      d["disposition"] = py::bytes(part.disposition);
      d["name"] = py::bytes(part.name);
      d["name_charset"] = py::bytes(part.name_charset);
      d["content_id"] = py::bytes(part.content_id);
      d["transfer_encoding"] = py::bytes(part.transfer_encoding);
      d["stored_size"] = part.stored_size;
      d["depth"] = part.depth;
      d["header_offset"] = part.header_offset;
      d["content_offset"] = part.content_offset;
      out.append(std::move(d));
    }
    return out;
  }

  uint64_t PartDecodedSize(size_t index) {
    uint64_t size = 0;
    int32_t rc = lock_.Run(
        [&] { return Mail("part_size")->GetPartDecodedSize(index, size); });
    if (rc != 0) Fail("part_size", rc);
    return size;
  }

  // The decoded bytes of part `index`; `bound` is at least its decoded
  // size (decoding never makes a part larger than its stored bytes).
  py::bytes ReadPart(size_t index, uint64_t bound) {
    if (bound > static_cast<uint64_t>(PY_SSIZE_T_MAX)) {
      throw std::bad_alloc();
    }
    return FilledBytes(static_cast<size_t>(bound), [&](char* data) {
      size_t written = 0;
      int32_t rc = lock_.Run([&] {
        return Mail("read_part")->ReadPart(index, data, bound, written);
      });
      if (rc != 0) Fail("read_part", rc);
      return written;
    });
  }

  // Hands the decoded bytes of part `index` to `write` in bounded steps.
  // An exception of `write` stops the retrieval and is raised again here.
  void StreamPart(size_t index, const py::function& write) {
    std::optional<py::error_already_set> raised;
    contentfile::PartSink sink = [&](const char* data, size_t size) {
      py::gil_scoped_acquire acquire;
      try {
        write(py::bytes(data, size));
        return true;
      } catch (py::error_already_set& e) {
        raised.emplace(std::move(e));
        return false;
      }
    };
    int32_t rc =
        lock_.Run([&] { return Mail("stream_part")->StreamPart(index, sink); });
    if (raised) throw std::move(*raised);
    if (rc != 0) Fail("stream_part", rc);
  }

  void SavePartToFd(size_t index, int fd) {
    int32_t rc =
        lock_.Run([&] { return Mail("save_part_fd")->SavePart2Fd(index, fd); });
    if (rc != 0) Fail("save_part_fd", rc);
  }

  int32_t AttachmentCount() {
    return lock_.Run(
        [&] { return Mail("attachment_count")->GetAttachmentCount(); });
  }

  py::tuple AttachmentInfo(int32_t index) {
    char name[kNameBufferSize];
    uint32_t size = 0;
    // The record's call reports no error for an index out of range.
    constexpr int32_t kNoSuchAttachment = -14;
    int32_t rc = lock_.Run([&] {
      const CMailContentFile* mail = Mail("attachment_info");
      if (index < 0 || index >= mail->GetAttachmentCount()) {
        return kNoSuchAttachment;
      }
      return mail->GetAttachmentInfo(index, name, sizeof(name) - 1, size);
    });
    if (rc != 0) Fail("attachment_info", rc);
    name[sizeof(name) - 1] = '\0';
    return py::make_tuple(py::bytes(name, strlen(name)), size);
  }

  void SaveAttachmentToPath(int32_t index, const std::string& target) {
    if (target.find('\0') != std::string::npos) {
      throw py::value_error("embedded null byte in the path");
    }
    int32_t rc = lock_.Run([&] {
      return Mail("save_attachment")->GetAttachment2File(index, target.c_str());
    });
    if (rc != 0) Fail("save_attachment", rc, target);
  }

  void SaveAttachmentToFd(int32_t index, int fd) {
    int32_t rc = lock_.Run([&] {
      return Mail("save_attachment_fd")->GetAttachment2Fd(index, fd);
    });
    if (rc != 0) Fail("save_attachment_fd", rc);
  }

  // The mail text of the record's interface: the first text part, decoded.
  py::bytes MailText() {
    uint32_t stored =
        lock_.Run([&] { return Mail("mail_text")->GetMailTextSize(); });
    return FilledBytes(stored, [&](char* data) -> size_t {
      if (stored == 0) return 0;
      return lock_.Run(
          [&] { return Mail("mail_text")->GetMailText(data, stored); });
    });
  }

 private:
  // REQUIRES: the lock is held, the GIL released.
  void Open(int wanted) {
    auto base = std::make_unique<CContentFile>();
    int32_t kind = wanted;
    OpenAs(base.get(), "open");
    if (kind < 0) {
      std::string head(base->GetHeadSize(), '\0');
      uint32_t length = static_cast<uint32_t>(head.size());
      if (!head.empty()) {
        int32_t rc = base->GetContentHead(head.data(), length);
        if (rc != 0) Fail("read_head", rc, path_);
      }
      bool bare_lf = false;
      switch (cfdump::KindOfHeadLines(cfdump::SplitHeadLines(head, &bare_lf))) {
        case cfdump::Kind::kHttpPost:
          kind = LOG_TYPE_HTTP_POST;
          break;
        case cfdump::Kind::kSmtp:
          kind = LOG_TYPE_SMTP;
          break;
        case cfdump::Kind::kPop3:
          kind = LOG_TYPE_POP3;
          break;
        default:
          kind = LOG_TYPE_OTHER;
      }
    }
    if (kind == LOG_TYPE_HTTP_POST) {
      auto file = std::make_unique<CHttpPostContentFile>();
      OpenAs(file.get(), "open_http_post");
      http_post_ = file.get();
      file_ = std::move(file);
    } else if (kind == LOG_TYPE_SMTP || kind == LOG_TYPE_POP3) {
      auto file = std::make_unique<CMailContentFile>();
      OpenAs(file.get(), "open_mail");
      mail_ = file.get();
      file_ = std::move(file);
    } else {
      file_ = std::move(base);
    }
    kind_ = kind;
  }

  void OpenAs(CContentFile* file, const char* operation) {
    int32_t rc;
    try {
      rc = file->OpenContentFile(path_.c_str());
    } catch (const CFileError& e) {
      throw NativeFailure{operation, std::nullopt, e.code().value(), path_};
    } catch (const std::invalid_argument&) {
      throw NativeFailure{"analyse_head", std::nullopt, 0, path_};
    }
    if (rc != 0) Fail(operation, rc, path_);
  }

  // REQUIRES: the lock is held.
  CContentFile* File(const char* operation) {
    if (file_ == nullptr) Fail(operation, kClosed);
    return file_.get();
  }

  // REQUIRES: the lock is held.
  const CMailContentFile* Mail(const char* operation) {
    if (File(operation) != nullptr && mail_ == nullptr) {
      throw std::logic_error("not a mail capture");
    }
    return mail_;
  }

  // The head or body, or with `prefix` at most `limit` bytes of it.
  py::bytes Range(const char* operation, bool prefix, bool body = false,
                  uint32_t limit = 0) {
    const std::pair<uint32_t, uint32_t> sizes = Sizes();
    uint32_t size = body ? sizes.second : sizes.first;
    if (prefix && limit < size) size = limit;
    return FilledBytes(size, [&](char* data) -> size_t {
      if (size == 0) return 0;
      uint32_t length = size;
      int32_t rc = lock_.Run([&] {
        CContentFile* file = File(operation);
        return body ? file->GetContentBody(data, length)
                    : file->GetContentHead(data, length);
      });
      if (rc != 0) Fail(operation, rc);
      return length;
    });
  }

  ObjectLock lock_;
  std::string path_;
  int32_t kind_ = LOG_TYPE_OTHER;
  std::unique_ptr<CContentFile> file_;
  CHttpPostContentFile* http_post_ = nullptr;
  CMailContentFile* mail_ = nullptr;
};

}  // namespace

void RegisterCapture(py::module_& module) {
  py::class_<NativeCapture>(module, "Capture",
                            "One open capture (the package's Capture classes "
                            "wrap it).")
      .def(py::init<const std::string&, int>(), py::arg("path"),
           py::arg("kind"))
      .def_property_readonly(
          "path", [](const NativeCapture& c) { return py::bytes(c.path()); })
      .def_property_readonly("kind", &NativeCapture::kind)
      .def_property_readonly("closed", &NativeCapture::closed)
      .def("close", &NativeCapture::Close)
      .def("sizes", &NativeCapture::Sizes)
      .def("head", &NativeCapture::Head)
      .def("body", &NativeCapture::Body)
      .def("body_prefix", &NativeCapture::BodyPrefix, py::arg("limit"))
      .def("log_head", &NativeCapture::LogHead)
      .def("save_body_to_path", &NativeCapture::SaveBodyToPath)
      .def("save_body_to_fd", &NativeCapture::SaveBodyToFd)
      .def("record_field", &NativeCapture::RecordField)
      .def("header_fields", &NativeCapture::HeaderFields)
      .def("parts", &NativeCapture::Parts)
      .def("part_decoded_size", &NativeCapture::PartDecodedSize)
      .def("read_part", &NativeCapture::ReadPart)
      .def("stream_part", &NativeCapture::StreamPart)
      .def("save_part_to_fd", &NativeCapture::SavePartToFd)
      .def("attachment_count", &NativeCapture::AttachmentCount)
      .def("attachment_info", &NativeCapture::AttachmentInfo)
      .def("save_attachment_to_path", &NativeCapture::SaveAttachmentToPath)
      .def("save_attachment_to_fd", &NativeCapture::SaveAttachmentToFd)
      .def("mail_text", &NativeCapture::MailText);
}

}  // namespace contentfile_python
