#include "admin/packdump/dump.h"

#include <cerrno>
#include <string>

#include "admin/common/change_refusal.h"
#include "admin/common/command_line.h"
#include "admin/common/data_files.h"
#include "admin/common/diagnostics.h"
#include "admin/common/exec_cmd.h"
#include "admin/common/finishing.h"
#include "admin/common/outcome_record.h"
#include "admin/common/step.h"
#include "admin/common/tool_word.h"
#include "port/file.h"
#include "port/file_lock.h"

namespace {

// The templates as dbmtool writes them, then compressed: each stage is a
// step of its own, so that a failing dbmtool is seen and not hidden behind
// the status of the gzip that read its output.
constexpr char kTemplates[] = "packdump.out";
constexpr char kPartial[] = "packdump.out.gz";
// Held while the dump is made: two runs in one directory would both write
// the same partial dump.
constexpr char kLock[] = "packdump.lock";
constexpr int kLineSize = kDumpLineSize;

class Dump {
 public:
  int run();

 private:
  // The steps; each returns the word its record names a failure by, or
  // null when it went well.
  const char* make_and_place();
  // The command lines, composed before anything runs; false after a message.
  bool compose_lines();
  // Makes the new dump under its partial name; false after a message.
  bool make_dump();
  // Leaves the record of the run beside the dump: what failed, and which
  // database and which dump there are now, so that a reader can tell
  // whether the dump is that database's.
  void keep_record(const char* failed) const;

  Diagnostics diagnostics_{"packdump"};
  port::FileLock lock_;
  std::string gzip_;  // the gzip program, as the line's first word names it
  char probe_[kLineSize] = {};
  char templates_[kLineSize] = {};
  char compress_[kLineSize] = {};
  // The production database as it was dumped ("-" before the dump).
  std::string production_ = "-";
};

bool Dump::compose_lines() {
  char gzip[kLineSize];
  const int word = tool_word(installation::Tool::kGzip, "gzip", gzip, sizeof gzip, &gzip_);
  if (const char* refusal = path_refusal(word)) {
    diagnostics_.error("The gzip path %s; no command line can carry it.", refusal);
    return false;
  }
  char body[kLineSize];
  if (word == 0 && compose_gzip_probe(probe_, sizeof probe_, gzip, ProbeOutput::kJoined) &&
      compose_template_export(templates_, sizeof templates_, kTemplates) &&
      compose_line(body, sizeof body, "%s -9cf < %s > %s", gzip, kTemplates, kPartial) &&
      compose_shell_line(compress_, sizeof compress_, body)) {
    return true;
  }
  diagnostics_.error("The gzip path makes a command line longer than %d bytes.", kLineSize - 1);
  return false;
}

bool Dump::make_dump() {
  char detail[128];
  // Templates are never read as none from a database that holds some.
  production_ = identity_value(kProduction);
  const bool made = run_step({.line = templates_, .name = "dbmtool", .program = "dbmtool", .output = kTemplates,
                              .source = kProduction},
                             detail, sizeof detail) &&
                    run_step({.line = compress_,
                              .name = "gzip",
                              .program = gzip_.c_str(),
                              .output = kPartial,
                              .may_be_empty = false},
                             detail, sizeof detail);
  port::remove_file(kTemplates);
  if (made) return true;
  port::remove_file(kPartial);
  diagnostics_.error("Cannot build %s (%s); %s is left as it was.", kDump, detail, kDump);
  return false;
}

const char* Dump::make_and_place() {
  if (!port::is_readable(kProduction)) {
    diagnostics_.error("Cannot read %s.", kProduction);
    return "no-database";
  }
  if (!compose_lines()) return "lines";
  // Without a usable gzip there is no dump to make, and nothing to say.
  if (exec_cmd_in_order(probe_) != 0) return "no-gzip";
  if (!make_dump()) return "templates";
  if (put_in_place(kPartial, kDump) != 0) {
    const int error_code = errno;
    port::remove_file(kPartial);
    diagnostics_.error("Cannot put %s in the place of %s (errno=%d); %s is left as it was.", kPartial, kDump,
                       error_code, kDump);
    return "replace";
  }
  return nullptr;
}

void Dump::keep_record(const char* failed) const {
  RecordWriter record("packdump");
  // No gzip is no failure of packdump's: it says nothing and ends with 0.
  const bool failure = failed != nullptr && std::string(failed) != "no-gzip";
  record.add_number("status", failure ? 1 : 0);
  record.add("failed", failed == nullptr ? "none" : failed);
  if (!diagnostics_.first_error().empty()) record.add_text("line", diagnostics_.first_error());
  record.add("production", production_);
  record.add("dump", identity_value(kDump));
  if (record.write(kPackdumpRecord) != 0) {
    diagnostics_.error("Cannot keep the record of this run in %s (errno=%d).", kPackdumpRecord, errno);
  }
}

int Dump::run() {
  // Run as root, nothing is made, and no record left, where another user
  // can change what is there.
  if (const auto root_refusal = refusal_as_root(
          with_framework_of_environment({{"The directory packdump works in", "."}}), command_for_shell({"packdump"}))) {
    diagnostics_.error("%s", root_refusal->c_str());
    return 1;
  }
  std::string refusal;
  // Another run at work here writes its own record: this one leaves none.
  if (!take_finishing_lock(&lock_, "packdump", kLock, (std::string(kDump) + " is left to it").c_str(),
                           (std::string(kDump) + " is left as it was").c_str(), &refusal)) {
    diagnostics_.error("%s.", refusal.c_str());
    return 1;
  }
  const char* failed = make_and_place();
  keep_record(failed);
  return failed == nullptr || std::string(failed) == "no-gzip" ? 0 : 1;
}

}  // namespace

int rebuild_dump() {
  Dump dump;
  return dump.run();
}
