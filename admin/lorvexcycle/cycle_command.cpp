#include "admin/lorvexcycle/cycle_command.h"

#include <cerrno>
#include <cstdio>
#include <memory>
#include <string>

#include "admin/common/change_refusal.h"
#include "admin/common/command_line.h"
#include "admin/common/data_files.h"
#include "admin/common/diagnostics.h"
#include "admin/common/outcome_record.h"
#include "admin/lorvexcycle/owner.h"
#include "admin/lorvexcycle/record.h"
#include "admin/lorvexcycle/verdict.h"
#include "admin/processfiles/process_files.h"
#include "admin/processfiles/settings.h"
#include "port/end_request.h"
#include "port/env.h"
#include "port/file.h"
#include "port/file_lock.h"
#include "port/process.h"
#include "port/random.h"

namespace {

constexpr char kProgram[] = "lorvex-cycle";

// The settings file's name as one word of the launcher's command line.
constexpr int kWordSize = 1024;
// The launcher's verdict is one short line; more is no verdict.
constexpr std::size_t kVerdictLimit = 64;

constexpr KeyRule kKeys[] = {
    {"GATHERER_NAME", KeyUse::kKeep},
    {"KESTREL_HOME", KeyUse::kKeep},
};

class CycleCommand : private Diagnostics, private port::OutputRelay {
 public:
  explicit CycleCommand(const char* settings_path)
      : Diagnostics(kProgram, Shown::kForReader), settings_path_(settings_path), settings_(kKeys, OtherLines::kIgnore) {}
  int run();

 private:
  // Reads the settings file for the gatherer directory; false after an
  // error line when no cycle can run.
  bool find_gatherer();
  // One cycle command at a time in a gatherer directory; false after a line
  // when another holds the lock.
  bool take_lock();
  // Makes the cycle's id, which every program of the cycle inherits; false
  // after an error line.
  bool make_cycle_id();
  // Runs the launcher, passing its output on; false when it was told to end
  // meanwhile.
  bool run_launcher();
  // Records the end of the cycle and says it in the system log; the status
  // the command ends with.
  int finish(Verdict verdict);
  // The end by a request to end the program: recorded, logged, then the
  // program ends as the request would have ended it.
  [[noreturn]] void end_by_request();

  void relay(int stream, const char* bytes, std::size_t size) override;

  bool refuse(const std::string& why) {
    verdict_ = Verdict{kCycleNotRun, why};
    return false;
  }

  const char* settings_path_;
  ProcessSettings settings_;
  std::string gatherer_;
  std::string gatherer_dir_;
  unsigned long tree_owner_ = 0;
  std::string cycle_;
  port::FileLock lock_;
  std::unique_ptr<CycleBook> book_;
  std::string launcher_verdict_;
  bool launcher_verdict_complete_ = false;
  Verdict verdict_;
};

int CycleCommand::run() {
  if (!find_gatherer()) {
    log_outcome(gatherer_, verdict_.status, level_of(verdict_.status), verdict_.what);
    return verdict_.status;
  }
  if (!take_lock()) {
    // Another cycle command at work says nothing more; a lock that cannot
    // be taken at all is no cycle at work, but no cycle either.
    if (verdict_.status == kCycleAtWork) return kCycleAtWork;
    log_outcome(gatherer_, verdict_.status, level_of(verdict_.status), verdict_.what);
    return verdict_.status;
  }
  if (!make_cycle_id()) return finish(verdict_);
  book_ = std::make_unique<CycleBook>(static_cast<const Diagnostics&>(*this), gatherer_dir_, cycle_);
  // A cycle that began is recorded before anything starts: one that a kill
  // ends before its end is recorded then shows as interrupted.
  if (!book_->begin()) {
    log_outcome(gatherer_, kCycleNotRun, level_of(kCycleNotRun), "the cycle's beginning cannot be recorded");
    return kCycleNotRun;
  }
  port::catch_end_requests();
  if (!run_launcher()) end_by_request();
  if (verdict_.status == kCycleClean) {
    verdict_ = judge_cycle(launcher_verdict_complete_ ? launcher_verdict_ : "",
                           CycleRecords{cycle_, gatherer_dir_, tree_owner_});
  }
  return finish(verdict_);
}

// Read before the cycle, so that its outcome is kept where the cycle ran and
// a cycle whose outcome has no place is not run at all: the launcher would
// run it in the current directory instead.
bool CycleCommand::find_gatherer() {
  gatherer_ = settings_path_;
  switch (settings_.read(settings_path_)) {
    case ReadResult::kCannotOpen:
      error("Cannot open %s (errno=%d).  No cycle is run.", settings_path_, settings_.open_error());
      return refuse("the settings file cannot be opened (errno=" + std::to_string(settings_.open_error()) + ")");
    case ReadResult::kInvalid:
      error("%s is invalid.  No cycle is run.", settings_path_);
      return refuse("the settings file is invalid");
    case ReadResult::kOtherEncoding:
      error("%s is invalid.  (It %s.)  No cycle is run.", settings_path_, settings_.other_encoding_refusal().c_str());
      return refuse("the settings file " + settings_.other_encoding_refusal());
    case ReadResult::kRead:
      break;
  }
  const char* name = settings_.get("GATHERER_NAME");
  const char* home = settings_.get("KESTREL_HOME");
  if (name == nullptr || home == nullptr) {
    error("%s names no gatherer directory.  No cycle is run.", settings_path_);
    return refuse("the settings file lacks GATHERER_NAME or KESTREL_HOME");
  }
  if (const char* key = settings_.key_ending_in_half_character({"KESTREL_HOME", "GATHERER_NAME"})) {
    error("%s is invalid.  (%s %s.)  No cycle is run.", settings_path_, key, path_refusal(kPathHalfCharacter));
    return refuse(std::string(key) + " " + path_refusal(kPathHalfCharacter));
  }
  gatherer_ = name;
  std::string dir;
  if (!gatherer_directory_as_typed(home, name, &dir)) {
    error("%s is invalid.  (The gatherer directory is too long.)  No cycle is run.", settings_path_);
    return refuse("the gatherer directory is too long");
  }
  if (const auto refusal = act_for_tree_owner(dir, command_for_shell({kProgram, settings_path_}))) {
    error("%s  No cycle is run.", refusal->c_str());
    return refuse(*refusal);
  }
  port::FileInfo info;
  if (port::file_stat(dir.c_str(), &info) != 0) {
    const int error_number = errno;
    error("Cannot find the gatherer directory %s (errno=%d).  No cycle is run.", dir.c_str(), error_number);
    return refuse("the gatherer directory " + dir + " cannot be found (errno=" + std::to_string(error_number) + ")");
  }
  if (!info.is_directory) {
    error("%s is not a directory.  No cycle is run.", dir.c_str());
    return refuse("the gatherer directory " + dir + " is not a directory");
  }
  gatherer_dir_ = dir;
  tree_owner_ = port::owner_of(dir.c_str());
  return true;
}

bool CycleCommand::take_lock() {
  const std::string path = gatherer_dir_ + "/" + kCycleCommandLock;
  switch (lock_.take(path.c_str())) {
    case port::FileLock::Result::kTaken:
      return true;
    case port::FileLock::Result::kHeld:
      verdict_ = Verdict{kCycleAtWork, "another cycle command is at work"};
      say("Another %s is at work for the gatherer %s (%s is locked%s%s).  Nothing is run.", kProgram,
          gatherer_.c_str(), path.c_str(), lock_.holders().empty() ? "" : " by ", lock_.holders().c_str());
      return false;
    case port::FileLock::Result::kFailed:
      break;
  }
  // Without the lock a second command could run beside this one: none runs.
  const int error_number = errno;
  error("Cannot take the lock %s (errno=%d).  No cycle is run.", path.c_str(), error_number);
  return refuse("the cycle command's lock " + path + " cannot be taken (errno=" + std::to_string(error_number) + ")");
}

bool CycleCommand::make_cycle_id() {
  unsigned char bytes[kCycleIdLength / 2];
  if (port::random_bytes(bytes, sizeof bytes) != 0) {
    error("Cannot make the cycle's id (errno=%d).  No cycle is run.", errno);
    return refuse("the cycle's id cannot be made (errno=" + std::to_string(errno) + ")");
  }
  static const char kHex[] = "0123456789abcdef";
  for (const unsigned char byte : bytes) {
    cycle_ += kHex[byte >> 4];
    cycle_ += kHex[byte & 0x0F];
  }
  if (port::put_env((std::string(kCycleIdVariable) + "=" + cycle_).c_str()) != 0) {
    error("Cannot put the cycle's id into the environment.  No cycle is run.");
    return refuse("the cycle's id cannot be put into the environment");
  }
  return true;
}

bool CycleCommand::run_launcher() {
  // The launcher's line is split as every command line is, never read by
  // the interpreter: only a double quote cannot be carried. The launcher is
  // found as the system's programs find each other: in this folder first.
  char word[kWordSize];
  char line[sizeof kLauncherProgram + sizeof word + 1];
  if (quote_path(settings_path_, word, sizeof word) != 0 ||
      !compose_line(line, sizeof line, "%s %s", kLauncherProgram, word)) {
    error("The name %s cannot be put into a command line.  No cycle is run.", settings_path_);
    refuse("the settings file's name cannot be put into a command line");
    return true;
  }
  std::fflush(nullptr);
  port::RelayOptions options;
  options.report_variable = kLaunchVerdictVariable;
  options.return_on_end_request = true;
  int start_error = 0;
  const int status = port::run_child_relayed(line, this, &start_error, options);
  if (status == port::kEndRequested) return false;
  if (status == -1 && start_error != 0) {
    const int error_number = port::start_error_errno(start_error);
    error("%s cannot be started (errno=%d).  No cycle is run.", kLauncherProgram, error_number);
    refuse(std::string(kLauncherProgram) + " cannot be started (errno=" + std::to_string(error_number) + ")");
    return true;
  }
  verdict_ = Verdict{kCycleClean, ""};
  return true;
}

// The output goes on as it came, each piece at once, so that whoever reads
// this program's streams sees the cycle as it runs. The verdict pipe is
// read, never passed on.
void CycleCommand::relay(int stream, const char* bytes, std::size_t size) {
  if (stream == 3) {
    for (std::size_t i = 0; i < size && !launcher_verdict_complete_; ++i) {
      if (bytes[i] == '\n') {
        launcher_verdict_complete_ = true;
      } else if (launcher_verdict_.size() <= kVerdictLimit) {
        launcher_verdict_ += bytes[i];
      }
    }
    return;
  }
  std::FILE* out = stream == 1 ? stdout : stderr;
  std::fwrite(bytes, 1, size, out);
  std::fflush(out);
}

int CycleCommand::finish(Verdict verdict) {
  // A run that found another gatherer at work ran no cycle: the last
  // cycle's record stays, a failure among it.
  if (verdict.status == kCycleAtWork) {
    book_->unbegin();
    log_outcome(gatherer_, verdict.status, level_of(verdict.status), verdict.what);
    return verdict.status;
  }
  const bool kept = book_ != nullptr && book_->end(verdict.status, level_of(verdict.status), verdict.what);
  // A clean cycle whose outcome was not kept is no success: the status
  // command would go on showing an older cycle. The system log tells the
  // status the command ends with.
  if (!kept && verdict.status == kCycleClean) {
    verdict = Verdict{kCycleNotKept, verdict.what + " (not kept in last-cycle)"};
  }
  log_outcome(gatherer_, verdict.status, level_of(verdict.status), verdict.what);
  return verdict.status;
}

void CycleCommand::end_by_request() {
  const int request = port::end_request();
  const int status = 128 + request;
  const std::string what = "the cycle command was told to end (signal " + std::to_string(request) +
                           ") while the cycle ran";
  book_->end(status, "error", what);
  log_outcome(gatherer_, status, "error", what);
  // The lock is not given back: the cycle's programs, which keep it, may
  // still be at work, and no second cycle may start beside them.
  port::end_as_requested(request);
}

}  // namespace

int run_cycle_command(const char* settings_path) {
  CycleCommand command(settings_path);
  return command.run();
}
