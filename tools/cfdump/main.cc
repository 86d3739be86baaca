// cfdump: reports, extracts and dumps the content files of a network
// content capture. See HelpText() in options.cc for the whole interface.

#include <contentfile.h>

#include <clocale>
#include <cstdio>
#include <string>

#include "tools/cfdump/batch.h"
#include "tools/cfdump/options.h"
#include "tools/cfdump/single_file.h"

namespace {

constexpr int kUsageError = 2;

}  // namespace

int main(int argc, char** argv) {
  // The library reads text as bytes of the locale's character set, so the
  // user's locale decides where multibyte characters begin.
  std::setlocale(LC_CTYPE, "");

  cfdump::Options options;
  std::string error;
  switch (cfdump::ParseOptions(argc, argv, &options, &error)) {
    case cfdump::ParseOutcome::kHelp:
      std::fputs(cfdump::HelpText(), stdout);
      return 0;
    case cfdump::ParseOutcome::kVersion:
      std::printf("cfdump %s (contentfile library %s)\n",
                  CONTENTFILE_VERSION_STRING, CONTENTFILE_VERSION_STRING);
      return 0;
    case cfdump::ParseOutcome::kUsageError:
      std::fprintf(stderr,
                   "cfdump: %s\nTry \"cfdump --help\" for more information.\n",
                   error.c_str());
      return kUsageError;
    case cfdump::ParseOutcome::kRun:
      break;
  }
  switch (options.command) {
    case cfdump::Command::kInfo:
    case cfdump::Command::kExtract:
      return cfdump::RunBatch(options);
    case cfdump::Command::kHead:
    case cfdump::Command::kBody:
    case cfdump::Command::kText:
      break;
  }
  return cfdump::RunSingleFile(options);
}
