#include "admin/launchserver/starter.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "admin/common/change_refusal.h"
#include "admin/common/command_line.h"
#include "admin/common/exec_cmd.h"
#include "admin/launchserver/event_report.h"
#include "admin/processfiles/process_files.h"
#include "admin/processfiles/settings.h"
#include "port/write_check.h"
#include "port/eventlog.h"
#include "port/file.h"
#include "port/process.h"
#include "port/stream.h"

namespace {

constexpr char kProgram[] = "LaunchServer";
// The daemon's command line and its log's path each fit in this many bytes.
constexpr int kLineSize = 260;
// A daemon still running after this long counts as started.
constexpr unsigned kStartWaitMs = 1000;
// The event of a settings file that cannot be opened.
constexpr unsigned long kEventSettingsUnreadable = 0xC0000005UL;

constexpr KeyRule kKeys[] = {
    {"GATHERER_DATA", KeyUse::kKeep, true},
    {"GATHERER_PORT", KeyUse::kKeep},
    {"KESTREL_HOME", KeyUse::kKeepAndExport, true},
    {"GATHERER_NAME", KeyUse::kSkip},
};

class Starter : private Diagnostics {
 public:
  explicit Starter(const char* settings_path)
      : Diagnostics(kProgram), settings_path_(settings_path), settings_(kKeys) {}
  int run();

 private:
  int read_settings();
  bool compose_command();
  bool set_search_path();
  bool log_can_be_held() const;
  int start();
  void report_start_failure(int start_error);

  const char* settings_path_;
  ProcessSettings settings_;
  const char* home_ = nullptr;
  const char* data_ = nullptr;
  const char* port_ = nullptr;
  char command_[kLineSize] = {};
  char log_path_[kLineSize] = {};
};

int Starter::run() {
  if (const int status = read_settings()) return status;
  // Run as root, the framework's directories and the data directory must be
  // root's alone.
  if (!framework_is_roots(*this, home_, {"The data directory", data_}, command_for_shell({kProgram, settings_path_}))) {
    return 1;
  }
  if (!compose_command()) return 1;
  if (!set_search_path()) return 1;
  if (!log_can_be_held()) return -2;
  return start();
}

// The daemon opens its log to write before it does anything else: on a FIFO
// it would wait for a reader for ever, and count as started while it never
// runs. A plain file and a device (the null device) are logs; anything else
// is refused with nothing started.
bool Starter::log_can_be_held() const {
  port::FileInfo info;
  if (port::file_stat(log_path_, &info) != 0 || info.is_regular || info.is_device) return true;
  error("%s is neither a plain file nor a device: exportd could not hold it as its log.  exportd is not started.",
        log_path_);
  return false;
}

int Starter::read_settings() {
  switch (settings_.read(settings_path_)) {
    case ReadResult::kCannotOpen:
      // The event log hears of it, as the caller may have no console; a file
      // another user can change is said on the console as well, for what
      // to mend.
      if (const port::PathVerdict* verdict = settings_.others_can_change()) {
        error("%s", change_refusal({"The settings file", settings_path_}, *verdict,
                                   command_for_shell({kProgram, settings_path_}))
                        .c_str());
      }
      errno = settings_.open_error();
      report_event(kEventSettingsUnreadable, port::kEventError, settings_path_, kErrorRuntime);
      return -1;
    case ReadResult::kInvalid:
      error("%s is invalid.", settings_path_);
      return 1;
    case ReadResult::kOtherEncoding:
      error("%s is invalid.  (It %s.)", settings_path_, settings_.other_encoding_refusal().c_str());
      return 1;
    case ReadResult::kRead:
      break;
  }
  home_ = settings_.get("KESTREL_HOME");
  data_ = settings_.get("GATHERER_DATA");
  port_ = settings_.get("GATHERER_PORT");
  if (home_ == nullptr || data_ == nullptr || port_ == nullptr) {
    Diagnostics("LaunchServer.exe").error("%s is invalid.", settings_path_);
    return 1;
  }
  return 0;
}

// The command line and the log's path are refused, with nothing started,
// when they do not fit, a path value ends in half a character or the data
// directory cannot be one quoted word. The directory is quoted as every
// command line's words are, so that one ending in a backslash does not
// swallow the closing quote and the port.
bool Starter::compose_command() {
  if (const char* key = settings_.key_ending_in_half_character({"KESTREL_HOME", "GATHERER_DATA"})) {
    error("%s is invalid.  (%s %s.)", settings_path_, key, path_refusal(kPathHalfCharacter));
    return false;
  }
  char data_word[kLineSize];
  const int quoted = quote_argument(data_, data_word, sizeof data_word);
  if (quoted == kPathHoldsQuote) {
    error("%s is invalid.  (GATHERER_DATA holds a double quote.)", settings_path_);
    return false;
  }
  if (quoted != 0 || !compose_line(command_, sizeof command_, "exportd -d %s %s", data_word, port_)) {
    error("%s is invalid.  (The command line of exportd is longer than %d characters.)", settings_path_,
          kLineSize - 1);
    return false;
  }
  if (!compose_line(log_path_, sizeof log_path_, "%s\\exportd.log", data_)) {
    error("%s is invalid.  (The path of exportd.log is longer than %d characters.)", settings_path_,
          kLineSize - 1);
    return false;
  }
  return true;
}

bool Starter::set_search_path() {
  const FrameworkDirs dirs = framework_dirs(home_);
  const char* const list[] = {dirs.lib_gatherer.path.c_str()};
  return put_in_front_of_search_path(*this, list, 1);
}

int Starter::start() {
  int exit_code = 0;
  int error = 0;
  if (port::start_daemon(command_, kStartWaitMs, &exit_code, &error) != 0) {
    report_start_failure(error);
    return -2;
  }
  return exit_code == port::kStillActive ? 0 : exit_code;
}

void Starter::report_start_failure(int start_error) {
  // The same text for the console and the log, each with its own time stamp.
  const std::string text = start_failure_text(start_error, command_);
  say("%s", text.c_str());
  if (std::FILE* log = port::open_file(log_path_, "a+")) {
    say_in(log, "%s", text.c_str());
    if (port::close_checked(log) != 0) {
      error("Cannot write %s (errno=%d).", log_path_, errno);
    }
  }
}

}  // namespace

int launch_server(const char* settings_path) {
  Starter starter(settings_path);
  return starter.run();
}
