// htmlsift and htmlsift2: the summary of one HTML document is what the
// framework's HTML summarizer writes when run on it. One source for both
// programs; the build names the program.
#include <cstdio>
#include <cstring>
#include <string_view>

#include "port/env.h"
#include "port/help_version.h"
#include "src/common/util/child.h"
#include "src/common/util/log.h"

namespace {

constexpr std::string_view kName = LORVEX_SUMMARIZER_NAME;
static_assert(kName == "htmlsift" || kName == "htmlsift2", "htmlsift.cpp builds htmlsift or htmlsift2");
// htmlsift2 always runs the Shift_JIS summarizer on the whole document;
// htmlsift asks for the body text, in Shift_JIS only in product start mode.
constexpr bool kWholeDocument = kName == "htmlsift2";

constexpr int kCommandSize = 1024;

}  // namespace

int LORVEX_PROGRAM_ENTRY(int argc, char** argv) {
  const char* const usage = kWholeDocument ? "Usage: htmlsift2[.exe] filename\n" : "Usage: htmlsift[.exe] filename\n";
  if (const int answered = port::answer_help_or_version(argc, argv, LORVEX_SUMMARIZER_NAME, usage); answered >= 0) return answered;
  log_setup(stderr);
  if (argc != 2) {
    std::fputs(usage, stderr);
    return 1;
  }
  const char* document = argv[1];

  // The path goes in as it is, unquoted: the child splits it like any
  // command line.
  char command[kCommandSize];
  int length = 0;
  if (kWholeDocument) {
    length = std::snprintf(command, sizeof command, "htmlloose_SJIS.exe %s", document);
  } else if (product_start_mode()) {
    length = std::snprintf(command, sizeof command, "htmlloose_SJIS.exe --body-text %s", document);
  } else {
    length = std::snprintf(command, sizeof command, "htmlloose.exe --body-text %s", document);
  }
  if (length < 0 || length >= kCommandSize) {
    report_command_too_long(kName.data(), kCommandSize);
    return 1;
  }

  // A child that cannot be started has been reported; the wrapper still ends
  // with 0 and an empty summary, as it does whatever the child's own status.
  run_summarizer_child(kName.data(), command, nullptr);
  return 0;
}
