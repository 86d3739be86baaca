// The JSON Lines form of the report: one object per capture, with the keys
// that --help documents. Every key is present in every object.

#ifndef CONTENTFILE_TOOLS_CFDUMP_JSON_REPORT_H_
#define CONTENTFILE_TOOLS_CFDUMP_JSON_REPORT_H_

#include <string>

#include "tools/cfdump/capture.h"

namespace cfdump {

// One line of JSON, ending in a newline.
std::string FormatJsonReport(const CaptureReport& report);

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_JSON_REPORT_H_
