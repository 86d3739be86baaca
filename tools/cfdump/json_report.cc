#include "tools/cfdump/json_report.h"

#include <string>
#include <vector>

#include "tools/cfdump/common.h"
#include "tools/cfdump/json_writer.h"

namespace cfdump {
namespace {

void WriteLog(const CaptureReport& report, JsonWriter* json) {
  const ST_LOG_INFO& log = report.log;
  json->BeginObject();
  json->Key("log_type");
  json->Number(log.nLogType);
  json->Key("line3");
  json->String(FieldText(log.szLine3));
  json->Key("line4_left");
  json->String(FieldText(log.szLine4Left));
  json->Key("line4_right");
  json->String(FieldText(log.szLine4Right));
  json->Key("src");
  json->String(Endpoint(log.dwAddr1, log.wPort1));
  json->Key("dst");
  json->String(Endpoint(log.dwAddr2, log.wPort2));
  json->Key("line9");
  if (report.has_line9) {
    json->String(report.line9);
  } else {
    json->Null();
  }
  json->Key("line11");
  json->String(FieldText(log.szLine11));
  json->Key("line12");
  json->String(FieldText(log.szLine12));
  json->Key("line13");
  json->String(FieldText(log.szLine13));
  json->Key("line14");
  json->String(FieldText(log.szLine14));
  json->EndObject();
}

void StringOrNull(bool present, std::string_view text, JsonWriter* json) {
  if (present) {
    json->String(text);
  } else {
    json->Null();
  }
}

// md5, sha1 and sha256; null where not computed.
void WriteDigests(const DigestValues& digests, JsonWriter* json) {
  json->Key("md5");
  StringOrNull(!digests.md5.empty(), digests.md5, json);
  json->Key("sha1");
  StringOrNull(!digests.sha1.empty(), digests.sha1, json);
  json->Key("sha256");
  StringOrNull(!digests.sha256.empty(), digests.sha256, json);
}

void WriteDecoded(const Decoded& decoded, JsonWriter* json) {
  json->Key("decoded_size");
  if (decoded.known) {
    json->Number(static_cast<int64_t>(decoded.size));
  } else {
    json->Null();
  }
  WriteDigests(decoded.digests, json);
}

void WriteTexts(const CaptureReport& report, JsonWriter* json) {
  json->BeginArray();
  for (const TextEntry& text : report.texts) {
    json->BeginObject();
    json->Key("part");
    json->Number(static_cast<int64_t>(text.part));
    json->Key("media_type");
    json->String(text.media_type);
    json->Key("charset");
    json->String(text.charset);
    json->Key("stored_size");
    json->Number(static_cast<int64_t>(text.stored_size));
    WriteDecoded(text.decoded, json);
    json->EndObject();
  }
  json->EndArray();
}

void WriteMail(const CaptureReport& report, JsonWriter* json) {
  json->BeginObject();
  json->Key("from");
  json->String(report.from);
  json->Key("to");
  json->String(report.to);
  json->Key("cc");
  json->String(report.cc);
  json->Key("subject");
  json->String(report.subject);
  json->Key("subject_utf8");
  StringOrNull(report.has_subject_utf8, report.subject_utf8, json);
  json->Key("text_size");
  json->Number(report.text_size);
  json->Key("attachments");
  json->BeginArray();
  for (const AttachmentEntry& entry : report.attachments) {
    json->BeginObject();
    json->Key("index");
    json->Number(entry.index);
    json->Key("name");
    json->String(entry.name);
    json->Key("name_utf8");
    StringOrNull(entry.has_name_utf8, entry.name_utf8, json);
    json->Key("media_type");
    StringOrNull(entry.part != kNoPart, entry.media_type, json);
    json->Key("size");
    json->Number(entry.size);
    WriteDecoded(entry.decoded, json);
    json->EndObject();
  }
  json->EndArray();
  json->Key("texts");
  WriteTexts(report, json);
  json->EndObject();
}

void WriteExtract(const CaptureReport& report, JsonWriter* json) {
  json->BeginObject();
  json->Key("dir");
  json->String(report.extract_dir);
  json->Key("files");
  json->BeginArray();
  for (const SavedFile& saved : report.saved) {
    json->BeginObject();
    json->Key("index");
    if (saved.index >= 0) {
      json->Number(saved.index);
    } else {
      json->Null();
    }
    json->Key("part");
    if (saved.part != kNoPart) {
      json->Number(static_cast<int64_t>(saved.part));
    } else {
      json->Null();
    }
    json->Key("name");
    json->String(saved.name);
    json->Key("file");
    if (saved.file.empty()) {
      json->Null();
    } else {
      json->String(saved.file);
    }
    json->Key("bytes");
    json->Number(static_cast<int64_t>(saved.bytes));
    WriteDigests(saved.digests, json);
    json->Key("error");
    if (saved.error.empty()) {
      json->Null();
    } else {
      json->String(saved.error);
    }
    json->EndObject();
  }
  json->EndArray();
  json->EndObject();
}

}  // namespace

std::string FormatJsonReport(const CaptureReport& report) {
  JsonWriter json;
  json.BeginObject();
  json.Key("path");
  json.String(report.path);
  json.Key("kind");
  if (const char* kind = KindJsonName(report.kind)) {
    json.String(kind);
  } else {
    json.Null();
  }
  json.Key("status");
  json.String(StatusJsonName(report.status));
  json.Key("error");
  if (report.status == Status::kOk) {
    json.Null();
  } else {
    json.String(report.error);
  }
  json.Key("warnings");
  json.BeginArray();
  for (const std::string& warning : report.warnings) json.String(warning);
  json.EndArray();
  json.Key("head_size");
  if (report.head_read) {
    json.Number(report.head_size);
  } else {
    json.Null();
  }
  json.Key("body_size");
  if (report.head_read) {
    json.Number(report.body_size);
  } else {
    json.Null();
  }
  json.Key("head");
  if (report.head_read) {
    json.String(report.head);
  } else {
    json.Null();
  }
  json.Key("log");
  if (report.has_log) {
    WriteLog(report, &json);
  } else {
    json.Null();
  }
  json.Key("mail");
  if (report.has_mail) {
    WriteMail(report, &json);
  } else {
    json.Null();
  }
  json.Key("extract");
  if (report.extracted) {
    WriteExtract(report, &json);
  } else {
    json.Null();
  }
  // Last, once every string is written.
  const std::vector<std::string> byte_strings = json.byte_strings();
  json.Key("byte_strings");
  json.BeginArray();
  for (const std::string& pointer : byte_strings) json.String(pointer);
  json.EndArray();
  json.EndObject();
  return json.text() + "\n";
}

}  // namespace cfdump
