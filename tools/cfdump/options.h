// Command-line options of cfdump: the command, its paths and its switches.

#ifndef CONTENTFILE_TOOLS_CFDUMP_OPTIONS_H_
#define CONTENTFILE_TOOLS_CFDUMP_OPTIONS_H_

#include <string>
#include <vector>

#include "tools/cfdump/digests.h"

namespace cfdump {

enum class Command { kInfo, kExtract, kHead, kBody, kText };

struct Options {
  Command command = Command::kInfo;
  std::vector<std::string> paths;
  bool json = false;
  bool force = false;
  bool quiet = false;
  bool utf8 = false;  // texts also converted to UTF-8
  DigestChoice digests;
  int jobs = 0;        // 0: one per core
  std::string dir;     // extract: the folder to extract into
  std::string output;  // head, body, text: a file instead of standard output
};

enum class ParseOutcome { kRun, kHelp, kVersion, kUsageError };

// Reads argv into *options. On kUsageError, *error says what is wrong.
ParseOutcome ParseOptions(int argc, const char* const* argv, Options* options,
                          std::string* error);

// The full --help text.
const char* HelpText();

}  // namespace cfdump

#endif  // CONTENTFILE_TOOLS_CFDUMP_OPTIONS_H_
