#include "admin/lorvexcycle/record.h"

#include <cerrno>
#include <cstdio>

#include "admin/common/data_files.h"
#include "port/write_check.h"
#include "port/eventlog.h"
#include "port/file.h"
#include "port/stream.h"

namespace {

constexpr char kEventSource[] = "lorvex-cycle";
constexpr char kWorkSuffix[] = ".new";
constexpr int kStatusAtWork = 75;

}  // namespace

std::string outcome_line(const std::string& gatherer, int status, const std::string& what) {
  return gatherer + ": status " + std::to_string(status) + ": " + what;
}

void log_outcome(const std::string& line, int status) {
  const unsigned short type = status == 0               ? port::kEventInformation
                              : status == kStatusAtWork ? port::kEventWarning
                                                        : port::kEventError;
  const char* const strings[] = {line.c_str()};
  // A log that cannot take the line leaves the cycle's outcome as it is:
  // the status and last-cycle still tell it.
  port::report_event(kEventSource, type, static_cast<unsigned long>(status), strings, 1);
}

bool keep_outcome(const Diagnostics& diagnostics, const std::string& gatherer_dir, const std::string& line) {
  const std::string kept = gatherer_dir + "/" + kLastCycle;
  const std::string work = kept + kWorkSuffix;
  // A work file left by a run that was cut off is started anew; a link in
  // its place goes itself, whatever it leads to.
  if (port::remove_file(work.c_str()) != 0 && errno != ENOENT) {
    diagnostics.error("Cannot remove %s (errno=%d).  The outcome is not kept.", work.c_str(), errno);
    return false;
  }
  std::FILE* file = port::open_file(work.c_str(), "w");
  if (file == nullptr) {
    diagnostics.error("Cannot open %s (errno=%d).  The outcome is not kept.", work.c_str(), errno);
    return false;
  }
  std::fprintf(file, "%s %s\n", time_stamp(), line.c_str());
  if (port::close_checked(file) != 0) {
    diagnostics.error("Cannot write %s (errno=%d).  The outcome is not kept.", work.c_str(), errno);
    port::remove_file(work.c_str());
    return false;
  }
  // The entry itself: a link goes with the rename, whatever it leads to.
  port::FileInfo info;
  if (port::entry_stat(kept.c_str(), &info) == 0 && !info.is_regular && !info.is_link) {
    diagnostics.error("%s is not a regular file.  The outcome is not kept.", kept.c_str());
    port::remove_file(work.c_str());
    return false;
  }
  if (port::replace_file(work.c_str(), kept.c_str()) != 0) {
    diagnostics.error("Cannot put %s in the place of %s (errno=%d).  The outcome is not kept.", work.c_str(),
                      kept.c_str(), errno);
    port::remove_file(work.c_str());
    return false;
  }
  return true;
}
