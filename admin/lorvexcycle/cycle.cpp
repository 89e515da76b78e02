#include "admin/lorvexcycle/cycle.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "admin/common/command_line.h"
#include "admin/common/diagnostics.h"
#include "admin/lorvexcycle/pages.h"
#include "admin/lorvexcycle/record.h"
#include "admin/process/process_files.h"
#include "admin/process/settings.h"
#include "port/file.h"
#include "port/process.h"

namespace {

constexpr char kProgram[] = "lorvex-cycle";
// The launcher's own lines begin so; one that says a gatherer "is running"
// (with its pid file's process ID or with a pid file it cannot use) refused
// to start a second.
constexpr char kLauncherLine[] = "LaunchCrawler: ";
constexpr char kRunning[] = " is running";
// What comes before a line's text: the launcher's time stamp and weight.
constexpr char kErrorWord[] = "ERROR: ";

// The settings file's name as one word of the launcher's command line.
constexpr int kWordSize = 1024;
// The most of one line of the launcher's standard error that is looked at:
// its own lines are far shorter, and a child's endless line costs no memory.
constexpr std::size_t kErrorLineLimit = 1024;

constexpr KeyRule kKeys[] = {
    {"GATHERER_NAME", KeyUse::kKeep},
    {"KESTREL_HOME", KeyUse::kKeep},
};

class CycleCommand : private Diagnostics, private port::OutputRelay {
 public:
  explicit CycleCommand(const char* settings_path)
      : Diagnostics(kProgram), settings_path_(settings_path), settings_(kKeys, OtherLines::kIgnore) {}
  int run();

 private:
  bool find_gatherer();
  bool refuse(const std::string& why);
  void run_launcher();
  int judge() const;
  bool record(int status) const;

  void relay(int stream, const char* bytes, std::size_t size) override;
  void take_error_line(const std::string& line);

  const char* settings_path_;
  ProcessSettings settings_;
  PageReader pages_;
  std::string error_line_;
  bool launcher_said_at_work_ = false;
  // The launcher's last line of its own, which says why no page came.
  std::string launcher_line_;
  // Why no cycle ran, when the launcher was not or could not be started.
  std::string no_start_;
  std::string gatherer_;
  std::string gatherer_dir_;
};

int CycleCommand::run() {
  if (!find_gatherer()) {
    record(kCycleNoPage);
    return kCycleNoPage;
  }
  run_launcher();
  const int status = judge();
  // A clean cycle whose outcome was not kept is no success: the status
  // command would go on showing an older cycle.
  if (!record(status) && status == kCycleInformation) return kCycleNotKept;
  return status;
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
  return true;
}

bool CycleCommand::refuse(const std::string& why) {
  no_start_ = why;
  return false;
}

void CycleCommand::run_launcher() {
  // The launcher's line is split as every command line is, never read by
  // the interpreter: only a double quote cannot be carried. The launcher is
  // found as the system's programs find each other: in this folder first.
  char word[kWordSize];
  char line[sizeof kLauncherProgram + sizeof word + 1];
  if (quote_path(settings_path_, word, sizeof word) != 0 ||
      !compose_line(line, sizeof line, "%s %s", kLauncherProgram, word)) {
    no_start_ = "the settings file's name cannot be put into a command line";
    error("The name %s cannot be put into a command line.  No cycle is run.", settings_path_);
    return;
  }
  std::fflush(nullptr);
  int start_error = 0;
  if (port::run_child_relayed(line, this, &start_error) == -1) {
    const int error_number = start_error != 0 ? port::start_error_errno(start_error) : 0;
    no_start_ = std::string(kLauncherProgram) + " cannot be started (errno=" + std::to_string(error_number) + ")";
    error("%s cannot be started (errno=%d).  No cycle is run.", kLauncherProgram, error_number);
  }
  pages_.finish();
  if (!error_line_.empty()) take_error_line(error_line_);
}

// The output goes on as it came, each piece at once, so that whoever reads
// this program's streams sees the cycle as it runs.
void CycleCommand::relay(int stream, const char* bytes, std::size_t size) {
  std::FILE* out = stream == 1 ? stdout : stderr;
  std::fwrite(bytes, 1, size, out);
  std::fflush(out);
  if (stream == 1) {
    pages_.take(bytes, size);
    return;
  }
  for (std::size_t i = 0; i < size; ++i) {
    if (bytes[i] != '\n') {
      if (error_line_.size() < kErrorLineLimit) error_line_ += bytes[i];
      continue;
    }
    take_error_line(error_line_);
    error_line_.clear();
  }
}

void CycleCommand::take_error_line(const std::string& line) {
  if (line.compare(0, sizeof kLauncherLine - 1, kLauncherLine) != 0) return;
  const std::size_t text = line.find(kErrorWord);
  launcher_line_ = line.substr(text == std::string::npos ? sizeof kLauncherLine - 1 : text + sizeof kErrorWord - 1);
  if (!launcher_line_.empty() && launcher_line_.back() == '\r') launcher_line_.pop_back();
  if (line.find(kRunning) != std::string::npos) launcher_said_at_work_ = true;
}

int CycleCommand::judge() const {
  if (launcher_said_at_work_) return kCycleAtWork;
  if (pages_.pages() == 0) return kCycleNoPage;
  return pages_.any_not_information() ? kCycleError : kCycleInformation;
}

// False when the outcome was to be kept and was not.
bool CycleCommand::record(int status) const {
  std::string what;
  if (!no_start_.empty()) {
    what = no_start_;
  } else if (status == kCycleAtWork) {
    what = "a gatherer is already at work";
  } else if (pages_.pages() == 0) {
    // The launcher's own last line says why, when it said anything.
    what = "no message page came";
    if (!launcher_line_.empty()) what += " (" + launcher_line_ + ")";
  } else {
    what = pages_.last_number() + ":" + pages_.last_text();
  }
  const std::string line = outcome_line(gatherer_, status, what);
  // A run that found another at work ran no cycle: the last cycle's line
  // stays, a failure among it. A refused run has no directory to keep it in.
  const bool kept = status == kCycleAtWork || gatherer_dir_.empty() || keep_outcome(*this, gatherer_dir_, line);
  // The system log tells the status the command ends with.
  if (!kept && status == kCycleInformation) {
    log_outcome(outcome_line(gatherer_, kCycleNotKept, what + " (not kept in last-cycle)"), kCycleNotKept);
  } else {
    log_outcome(line, status);
  }
  return kept;
}

}  // namespace

int run_cycle_command(const char* settings_path) {
  CycleCommand command(settings_path);
  return command.run();
}
