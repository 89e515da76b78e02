#include "admin/lorvexcycle/cycle.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "admin/common/command_line.h"
#include "admin/common/diagnostics.h"
#include "admin/common/installation.h"
#include "admin/lorvexcycle/pages.h"
#include "admin/lorvexcycle/record.h"
#include "admin/process/process_files.h"
#include "admin/process/settings.h"
#include "port/process.h"

namespace {

constexpr char kProgram[] = "lorvex-cycle";
// The launcher's own lines begin so; one that says a gatherer "is running"
// refused to start a second.
constexpr char kLauncherLine[] = "LaunchCrawler: ";
constexpr char kRunning[] = " is running.";

// The settings file's name as one word of the launcher's command line.
constexpr int kWordSize = 1024;

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
  void run_launcher();
  int judge() const;
  void find_gatherer();
  void record(int status) const;

  void relay(int stream, const char* bytes, std::size_t size) override;
  void take_error_line(const std::string& line);

  const char* settings_path_;
  ProcessSettings settings_;
  PageReader pages_;
  std::string error_line_;
  bool launcher_said_at_work_ = false;
  // Why no cycle ran, when the launcher could not even be started.
  std::string no_start_;
  std::string gatherer_;
  std::string gatherer_dir_;
};

int CycleCommand::run() {
  run_launcher();
  const int status = judge();
  find_gatherer();
  record(status);
  return status;
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
      error_line_ += bytes[i];
      continue;
    }
    take_error_line(error_line_);
    error_line_.clear();
  }
}

void CycleCommand::take_error_line(const std::string& line) {
  if (line.compare(0, sizeof kLauncherLine - 1, kLauncherLine) == 0 && line.find(kRunning) != std::string::npos) {
    launcher_said_at_work_ = true;
  }
}

int CycleCommand::judge() const {
  if (launcher_said_at_work_) return kCycleAtWork;
  if (pages_.pages() == 0) return kCycleNoPage;
  return pages_.any_not_information() ? kCycleError : kCycleInformation;
}

// Read after the cycle: the launcher has said what it had to say of the
// file, and the lines the reader puts into the environment reach no child.
void CycleCommand::find_gatherer() {
  gatherer_ = settings_path_;
  if (settings_.read(settings_path_) != ReadResult::kRead) return;
  const char* name = settings_.get("GATHERER_NAME");
  const char* home = settings_.get("KESTREL_HOME");
  if (name == nullptr || home == nullptr) return;
  gatherer_ = name;
  char dir[2 * kProcessLineSize + 16];
  if (!compose_gatherer_directory(home, name, dir, sizeof dir)) return;
  // The POSIX installation's own form, as the administrator types paths.
  installation::swap_separators(dir, '\\', '/');
  gatherer_dir_ = dir;
}

void CycleCommand::record(int status) const {
  std::string what;
  if (!no_start_.empty()) {
    what = no_start_;
  } else if (status == kCycleAtWork) {
    what = "a gatherer is already at work";
  } else if (pages_.pages() == 0) {
    what = "no message page came";
  } else {
    what = pages_.last_number() + ":" + pages_.last_text();
  }
  const std::string line = outcome_line(gatherer_, status, what);
  log_outcome(line, status);
  if (gatherer_dir_.empty()) {
    error("%s names no gatherer directory.  The outcome is not kept.", settings_path_);
    return;
  }
  keep_outcome(*this, gatherer_dir_, line);
}

}  // namespace

int run_cycle_command(const char* settings_path) {
  CycleCommand command(settings_path);
  return command.run();
}
