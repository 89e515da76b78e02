#include "admin/lorvexcycle/record.h"

#include <cerrno>
#include <ctime>

#include "admin/common/data_files.h"
#include "admin/common/outcome_record.h"
#include "admin/lorvexcycle/verdict.h"
#include "port/eventlog.h"
#include "port/file.h"
#include "port/reader_text.h"

namespace {

constexpr char kEventSource[] = "lorvex-cycle";
constexpr char kProgram[] = "lorvex-cycle";

}  // namespace

Moment now() {
  Moment moment;
  moment.stamp = time_stamp();
  moment.at = static_cast<long long>(std::time(nullptr));
  return moment;
}

bool CycleBook::begin() {
  port::SmallFile earlier;
  if (port::read_small_file(path_of(kCycleBegan).c_str(), kRecordLimit, &earlier) == port::SmallRead::kRead) {
    earlier_began_ = earlier.bytes;
  }
  began_ = now();
  RecordWriter record(kProgram, cycle_);
  record.add_text("began", began_.stamp);
  record.add_number("began-at", began_.at);
  if (record.write(path_of(kCycleBegan)) == 0) return true;
  diagnostics_.error("Cannot keep the record of the cycle's beginning in %s (errno=%d).  No cycle is run.",
                     path_of(kCycleBegan).c_str(), errno);
  return false;
}

void CycleBook::unbegin() {
  const std::string path = path_of(kCycleBegan);
  const int done = earlier_began_.empty() ? port::remove_file(path.c_str())
                                          : port::write_whole_file(path.c_str(), earlier_began_.data(),
                                                                   earlier_began_.size());
  if (done != 0 && errno != ENOENT) {
    diagnostics_.error("Cannot put back the record of the cycle begun before in %s (errno=%d).", path.c_str(), errno);
  }
}

bool CycleBook::end(int status, const char* level, const std::string& what) {
  const std::string path = path_of(kLastCycle);
  // The last clean cycle's beginning goes from record to record, so that the
  // status command can tell a database older than it.
  long long last_clean = status == kCycleClean ? began_.at : -1;
  if (last_clean < 0) {
    Record earlier;
    std::string why;
    port::SmallFile file;
    if (port::read_small_file(path.c_str(), kRecordLimit, &file) == port::SmallRead::kRead &&
        parse_record(file.bytes, kLastCycleSchema, "", &earlier, &why) && earlier.has("last-clean-at")) {
      last_clean = std::stoll(earlier.get("last-clean-at"));
    }
  }
  RecordWriter record(kProgram, cycle_);
  record.add_text("began", began_.stamp);
  record.add_number("began-at", began_.at);
  record.add_text("ended", now().stamp);
  record.add_number("status", status);
  record.add("level", level);
  record.add_text_for_reader("what", what);
  if (last_clean >= 0) record.add_number("last-clean-at", last_clean);
  if (record.write(path) == 0) return true;
  diagnostics_.error("Cannot keep the outcome in %s (errno=%d).  The outcome is not kept.", path.c_str(), errno);
  return false;
}

const char* level_of(int status) {
  return status == kCycleClean ? "information" : status == kCycleAtWork ? "warning" : "error";
}

void log_outcome(const std::string& gatherer, int status, const char* level, const std::string& what) {
  // UTF-8 whatever the locale, as a journal shows it; what a file said is
  // shown, never obeyed.
  const std::string line =
      port::text_for_reader(gatherer + ": status " + std::to_string(status) + ": " + what, port::TextFor::kRecord);
  const std::string kind = level;
  const unsigned short type = kind == "information" ? port::kEventInformation
                              : kind == "warning"   ? port::kEventWarning
                                                    : port::kEventError;
  const char* const strings[] = {line.c_str()};
  // A log that cannot take the line leaves the cycle's outcome as it is:
  // the status and last-cycle still tell it.
  port::report_event(kEventSource, type, static_cast<unsigned long>(status), strings, 1);
}
