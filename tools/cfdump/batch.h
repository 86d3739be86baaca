// The batch runner of info and extract: reads many captures on several
// threads and writes their reports in input order.
//
// Each worker thread opens its own library objects for each capture it
// takes; no library object is ever shared between threads. Workers run at
// most a window of captures ahead of the output, so a slow capture at the
// front holds back memory use, not correctness.

#ifndef CONTENTFILE_TOOLS_CFDUMP_BATCH_H_
#define CONTENTFILE_TOOLS_CFDUMP_BATCH_H_

#include "tools/cfdump/options.h"

namespace cfdump {

// Runs info or extract as `options` say; returns the exit status (0 every
// capture read, 1 any capture failed).
int RunBatch(const Options& options);

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_BATCH_H_
