// The document-filter summarizers: the summary of one office or print
// document is what the product's document filter writes when run on it, in
// product start mode only. One source for eight programs; the build names
// the program and says whether it asks the filter for the body text only.
// This file is compiled to Shift_JIS.
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "port/env.h"
#include "port/file.h"
#include "port/help_version.h"
#include "port/text.h"
#include "src/common/util/child.h"
#include "src/common/util/log.h"

namespace {

constexpr bool kBodyOnly = LORVEX_SUMMARIZER_BODY_ONLY;
constexpr char kUsage[] = "使用法: " LORVEX_SUMMARIZER_NAME ".exe ファイル\n";

// Room for 259 characters each: the filter directory and the command line.
constexpr int kPathSize = 260;
constexpr int kCommandSize = 260;
constexpr int kMessageSize = 1024;

}  // namespace

int LORVEX_PROGRAM_ENTRY(int argc, char** argv) {
  const char* const name = LORVEX_SUMMARIZER_NAME;
  if (const int answered = port::answer_help_or_version(argc, argv, name, kUsage); answered >= 0) return answered;
  log_setup(stderr);
  if (argc != 2) {
    std::fputs(kUsage, stderr);
    return 1;
  }
  if (!product_start_mode()) return 0;
  const char* home = port::get_env("KESTREL_HOME");
  if (home == nullptr) return 0;
  const char* document = argv[1];
  // Such a home would swallow the "\" joined after it and lead the filter
  // into a folder beside the framework's.
  if (port::ends_in_half_character(home)) {
    std::fprintf(stderr, "%s: KESTREL_HOME ends in half a double-byte character\n", name);
    return 1;
  }

  char filter_dir[kPathSize];
  int length = std::snprintf(filter_dir, sizeof filter_dir, "%s\\shlibs\\DOCACCESS", home);
  if (length < 0 || length >= kPathSize) {
    std::fprintf(stderr, "%s: KESTREL_HOME is too long: the filter directory path would exceed %d characters\n",
                 name, kPathSize - 1);
    return 1;
  }

  // The filter runs in its own directory when there is one; a missing one,
  // or a plain file of that name, leaves the child in ours.
  const char* working_dir = nullptr;
  port::FileInfo info;
  if (port::file_stat(filter_dir, &info) != 0) {
    const int stat_error = errno;
    if (stat_error != ENOENT) {
      char message[kMessageSize];
      std::snprintf(message, sizeof message, "%s: _stat:", name);
      errno = stat_error;
      report_error_cause(message);
      return 1;
    }
  } else if (info.is_directory) {
    working_dir = filter_dir;
  }

  // The path goes in as it is, unquoted: the filter splits it like any
  // command line and resolves a relative one against its own directory.
  char command[kCommandSize];
  length = kBodyOnly ? std::snprintf(command, sizeof command, "vezURUduvev.exe --body-only %s", document)
                     : std::snprintf(command, sizeof command, "vezURUduvev.exe %s", document);
  if (length < 0 || length >= kCommandSize) {
    report_command_too_long(name, kCommandSize);
    return 1;
  }

  // A filter that cannot be started has been reported; the summary is then
  // empty and the status 0, as it is whatever the filter's own status.
  run_summarizer_child(name, command, working_dir);
  return 0;
}
