// Extraction: each capture into a folder of its own under DIR, holding the
// texts and attachments of a parsed mail, or the body of any other capture.
//
// Nothing is written outside DIR and, without `force`, no existing file or
// folder is replaced. DIR and each capture's folder are held open, and
// every file is created through them (openat with O_CREAT, O_EXCL and
// O_NOFOLLOW) and written through the descriptor that created it, never
// by a path looked up again: whoever can rename entries in DIR cannot
// redirect a write by swapping a folder or a file for a link. With
// `force`, an existing file of the same name is removed first, never
// written through, and a folder that holds an input of the run is never
// reused.

#ifndef CONTENTFILE_TOOLS_CFDUMP_EXTRACT_H_
#define CONTENTFILE_TOOLS_CFDUMP_EXTRACT_H_

#include <sys/types.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "tools/cfdump/capture.h"
#include "tools/cfdump/digests.h"
#include "tools/cfdump/fd_io.h"
#include "tools/cfdump/input_list.h"

namespace cfdump {

// The name of the file of digests in each capture's folder, in the form
// that `sha256sum -c` reads.
constexpr char kDigestFileName[] = "SHA256SUMS";

// Folders, by device and inode, that hold an input of the run.
using FolderIds = std::set<std::pair<dev_t, ino_t>>;

// Every folder above every input file, up to the root.
FolderIds InputFolders(const std::vector<Input>& inputs);

// DIR, created with its parents when missing, and held open.
class ExtractDir {
 public:
  // Returns false with *error in words.
  bool Open(const std::string& path, std::string* error);
  const std::string& path() const { return path_; }
  int fd() const { return fd_.get(); }

 private:
  std::string path_;
  UniqueFd fd_;
};

struct ExtractSettings {
  bool force = false;
  DigestChoice digests;
  FolderIds inputs;  // never reused as a capture's folder
};

// The folder name of each input under DIR, in input order: the capture
// file's name made safe, numbered when an earlier capture of the run took
// it or when an entry of that name exists (with `force`, a folder that
// holds no input may be reused).
std::vector<std::string> PlanCaptureFolders(const std::vector<Input>& inputs,
                                            const ExtractDir& dir,
                                            const ExtractSettings& settings);

// Saves the capture into DIR/`folder` and records in its report what was
// written; a capture that could not be opened gets no folder.
void ExtractCapture(Capture* capture, const ExtractDir& dir,
                    const std::string& folder, const ExtractSettings& settings);

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_EXTRACT_H_
