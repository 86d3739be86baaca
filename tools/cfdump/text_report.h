// The readable report of one capture.

#ifndef CONTENTFILE_TOOLS_CFDUMP_TEXT_REPORT_H_
#define CONTENTFILE_TOOLS_CFDUMP_TEXT_REPORT_H_

#include <string>
#include <string_view>

#include "tools/cfdump/capture.h"

namespace cfdump {

// The report, ending in an empty line.
std::string FormatTextReport(const CaptureReport& report);

// Bytes from a capture made safe for a terminal: well-formed UTF-8 stays as
// it is, control characters (C0, DEL, C1) and bytes that are not UTF-8 are
// shown as \xNN, marks of text direction as \uNNNN.
std::string Printable(std::string_view bytes);

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_TEXT_REPORT_H_
