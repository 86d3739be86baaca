// Extraction: each capture into a folder of its own under DIR, holding its
// attachments (a parsed mail) or its body (any other capture).
//
// Nothing is written outside DIR and, without `force`, no existing file or
// folder is replaced: every name is claimed by creating it exclusively
// (O_EXCL, O_NOFOLLOW) before the library writes it, and a taken name is
// numbered ("-2", "-3"...). The library then opens the claimed path again
// by name; another program that swaps the entry for a link in that moment
// could redirect the write. Folders under DIR are made by this tool and
// are not shared, so the window only matters where others can write there.
// With `force`, an existing entry of the same name is removed first, never
// written through, so a link or a hard link cannot lead a write outside.

#ifndef CONTENTFILE_TOOLS_CFDUMP_EXTRACT_H_
#define CONTENTFILE_TOOLS_CFDUMP_EXTRACT_H_

#include <string>
#include <vector>

#include "tools/cfdump/capture.h"
#include "tools/cfdump/input_list.h"

namespace cfdump {

// Creates DIR with its parents when missing and checks that paths under it
// leave room for file names within the library's 259-character limit.
// Returns false with *error in words.
bool PrepareExtractDir(const std::string& dir, std::string* error);

// The folder of each input under `dir`, in input order: the capture
// file's name made safe, numbered when an earlier capture of the run took
// it or, without `force`, when an entry of that name exists.
std::vector<std::string> PlanCaptureFolders(const std::vector<Input>& inputs,
                                            const std::string& dir, bool force);

// Saves the capture into `folder` and records in its report what was
// written; a capture that could not be opened gets no folder.
void ExtractCapture(Capture* capture, const std::string& folder, bool force);

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_EXTRACT_H_
