// head, body and text: one part of one capture, raw, to standard output or
// to a file.

#ifndef CONTENTFILE_TOOLS_CFDUMP_SINGLE_FILE_H_
#define CONTENTFILE_TOOLS_CFDUMP_SINGLE_FILE_H_

#include "tools/cfdump/options.h"

namespace cfdump {

// Runs head, body or text as `options` say; returns the exit status.
int RunSingleFile(const Options& options);

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_SINGLE_FILE_H_
