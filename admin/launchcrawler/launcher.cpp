#include "admin/launchcrawler/launcher.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "admin/common/change_refusal.h"
#include "admin/common/command_line.h"
#include "admin/common/exec_cmd.h"
#include "admin/common/tool_word.h"
#include "admin/processfiles/process_files.h"
#include "port/write_check.h"
#include "port/file.h"
#include "port/held_open.h"
#include "port/process.h"
#include "port/report_channel.h"
#include "port/stream.h"

namespace {

constexpr const char* kProgram = kLauncherProgram;
constexpr const char* kPidFile = kGathererPidFile;
// Held open for writing by a gatherer at work.
constexpr const char* kLog = kGathererLog;

// The gatherer directory and, later, the script's command line are built in
// one buffer of this size.
constexpr int kWorkSize = 504;
// The Perl path is held in this many bytes.
constexpr int kPerlPathSize = 260;

constexpr KeyRule kKeys[] = {
    {"GATHERER_NAME", KeyUse::kKeep},
    {"KESTREL_HOME", KeyUse::kKeepAndExport, true},
    {"GATHERER_DATA", KeyUse::kSkip},
    {"GATHERER_PORT", KeyUse::kSkip},
};

class Launcher : private Diagnostics {
 public:
  explicit Launcher(const char* settings_path)
      : Diagnostics(kProgram), settings_path_(settings_path), settings_(kKeys) {}
  int run();

 private:
  // The steps of the run; each that refuses has said why.
  int run_steps();
  bool read_settings();
  bool set_search_path();
  bool enter_gatherer_directory();
  // The gatherer's configuration, which the script follows, and as root the
  // directory it runs in, must be nobody else's to change; false after a
  // message.
  bool configuration_is_sound();
  bool gatherer_at_work();
  void say_running(int read, long recorded, int read_error);
  bool claim_directory();
  // The PerlPath value as one word of a command line, looked up before
  // anything is touched; false after a message.
  bool look_up_perl();
  // Whether the chosen Perl names a file; false after a message.
  bool choose_perl();
  void run_script();
  void release_directory();

  void say_invalid() { error("%s is invalid.", settings_path_); }
  std::string command() const { return command_for_shell({kProgram, settings_path_}); }

  // Taken before the settings are read: a settings line could otherwise put
  // the variable back for the script to inherit. The cycle command reads
  // the verdict from it, never from the words of the lines above.
  port::ReportChannel verdict_{kLaunchVerdictVariable};
  const char* settings_path_;
  ProcessSettings settings_;
  const char* name_ = nullptr;
  const char* home_ = nullptr;
  int own_pid_ = 0;
  // The pid file was opened for our claim but our id may not have reached it.
  bool claim_unfinished_ = false;
  char work_[kWorkSize] = {};
  char perl_[kPerlPathSize] = "perl";
  bool perl_from_registry_ = false;
  char perl_word_[kWorkSize] = "perl";
};

int Launcher::run() {
  const int status = run_steps();
  // Every way that started no script is a refusal, unless it said more.
  verdict_.tell("refused");
  return status;
}

int Launcher::run_steps() {
  if (!read_settings()) return 1;
  if (!framework_is_roots(*this, home_, {"The gatherer directory", work_}, command())) return 1;
  if (!set_search_path()) return 1;
  if (!enter_gatherer_directory()) return 0;
  if (!configuration_is_sound()) return 1;
  own_pid_ = port::current_pid();
  if (!look_up_perl()) return 0;
  if (gatherer_at_work()) return 0;
  // From here on every way out removes the run's pid files.
  if (claim_directory() && choose_perl()) run_script();
  release_directory();
  return 0;
}

bool Launcher::read_settings() {
  switch (settings_.read(settings_path_)) {
    case ReadResult::kCannotOpen:
      if (const port::PathVerdict* verdict = settings_.others_can_change()) {
        error("%s", change_refusal({"The settings file", settings_path_}, *verdict, command()).c_str());
      } else {
        error("Cannot open %s (errno=%d).", settings_path_, settings_.open_error());
      }
      return false;
    case ReadResult::kInvalid:
      say_invalid();
      return false;
    case ReadResult::kOtherEncoding:
      error("%s is invalid.  (It %s.)", settings_path_, settings_.other_encoding_refusal().c_str());
      return false;
    case ReadResult::kRead:
      break;
  }
  name_ = settings_.get("GATHERER_NAME");
  home_ = settings_.get("KESTREL_HOME");
  if (name_ == nullptr || home_ == nullptr) {
    say_invalid();
    return false;
  }
  if (const char* key = settings_.key_ending_in_half_character({"KESTREL_HOME", "GATHERER_NAME"})) {
    error("%s is invalid.  (%s %s.)", settings_path_, key, path_refusal(kPathHalfCharacter));
    return false;
  }
  // The gatherer directory must fit its buffer; it is refused before
  // anything is changed rather than cut.
  if (!compose_gatherer_directory(home_, name_, work_, sizeof work_)) {
    error("%s is invalid.  (The gatherer directory is longer than %d characters.)", settings_path_,
          kWorkSize - 1);
    return false;
  }
  return true;
}

bool Launcher::set_search_path() {
  const FrameworkDirs dirs = framework_dirs(home_);
  const char* const list[] = {dirs.bin.path.c_str(), dirs.lib_gatherer.path.c_str(), dirs.lib.path.c_str()};
  return put_in_front_of_search_path(*this, list, 3);
}

// A directory that does not exist leaves the launcher where it started. One
// that exists but cannot be entered is another user's or a damaged one: a
// run in the starting directory instead would be beside whatever runs there.
bool Launcher::enter_gatherer_directory() {
  if (port::change_dir(work_) == 0 || errno == ENOENT) return true;
  error("Cannot enter the gatherer directory %s (errno=%d).  No gatherer is started.", work_, errno);
  return false;
}

// The script reads NAME.cf where it runs, the gatherer directory or, when
// there is none, the directory the launcher was started in.
bool Launcher::configuration_is_sound() {
  const std::string configuration = std::string(name_) + ".cf";
  if (const auto refusal = refusal_of_instructions({{"The gatherer's configuration", configuration}}, command())) {
    error("%s", refusal->c_str());
    return false;
  }
  if (const auto refusal = refusal_as_root({{"The directory the gatherer runs in", "."}}, command())) {
    error("%s", refusal->c_str());
    return false;
  }
  return true;
}

bool Launcher::gatherer_at_work() {
  const GathererWork work = check_gatherer_work(kProgram);
  switch (work.answer) {
    case GathererWork::kAtWork:
      verdict_.tell(work.read == 0 ? "at-work " + std::to_string(work.recorded) : std::string("at-work -"));
      say_running(work.read, work.recorded, work.read_error);
      return true;
    case GathererWork::kCannotTell:
      verdict_.tell("cannot-tell");
      // A log that cannot be tested may be a running gatherer's: the safe
      // side is to start none and to leave its pid file alone.
      if (work.log_unknown) {
        error("Cannot tell whether %s is held open for writing: %s.  No gatherer is started.", kLog, work.why);
      } else {
        error("Cannot tell whether the gatherer of process ID %ld is at work here: %s.  No gatherer is started.",
              work.recorded, work.why);
      }
      return true;
    case GathererWork::kIdle:
      break;
  }
  return false;
}

void Launcher::say_running(int read, long recorded, int read_error) {
  switch (read) {
    case 0:
      error("The gatherer of process ID %ld is running.  Terminate the gatherer of process ID %d.", recorded,
            own_pid_);
      break;
    case kPidFileNoNumber:
      error("A gatherer is running, but %s holds no process ID.  Terminate the gatherer of process ID %d.",
            kPidFile, own_pid_);
      break;
    default:
      error("A gatherer is running, but %s cannot be read (errno=%d).  Terminate the gatherer of process ID %d.",
            kPidFile, read_error, own_pid_);
      break;
  }
}

bool Launcher::claim_directory() {
  std::FILE* file = port::open_file(kPidFile, "w");
  if (file == nullptr) {
    error("Cannot open %s (errno=%d).", kPidFile, errno);
    return false;
  }
  // A pid file that did not come out whole would hide the gatherer from
  // the next launcher: no gatherer is started without it.
  std::fprintf(file, "%d\n", own_pid_);
  if (port::close_checked(file) != 0) {
    claim_unfinished_ = true;
    error("Cannot write %s (errno=%d).", kPidFile, errno);
    return false;
  }
  return true;
}

bool Launcher::look_up_perl() {
  const auto found = configured_tool(installation::Tool::kPerl);
  if (!found) return true;  // the plain "perl" of the search path
  if (!compose_line(perl_, sizeof perl_, "%s", found->c_str())) {
    error("PerlPath %s is longer than %d characters.", found->c_str(), kPerlPathSize - 1);
    return false;
  }
  perl_from_registry_ = true;
  // A Perl path with blanks is one word of the command line, quoted.
  if (const int quoted = quote_path(perl_, perl_word_, sizeof perl_word_); quoted != 0) {
    if (quoted == kPathHalfCharacter) {
      error("PerlPath %s %s.", perl_, path_refusal(quoted));
    } else {
      error("PerlPath %s cannot be put into a command line.", perl_);
    }
    return false;
  }
  return true;
}

bool Launcher::choose_perl() {
  if (!perl_from_registry_) return true;
  port::FileInfo info;
  if (port::file_stat(perl_, &info) != 0) {
    error("Cannot found PerlPath %s.", perl_);
    return false;
  }
  if (info.is_directory) {
    error("PerlPath %s is a directory.  Specify the execute file name to PerlPath.", perl_);
    return false;
  }
  return true;
}

void Launcher::run_script() {
  if (std::strchr(name_, '"') != nullptr) {
    error("The gatherer name %s cannot be put into a command line.", name_);
    return;
  }
  if (!compose_line(work_, sizeof work_, "%s -S Gatherer \"%s.cf\"", perl_word_, name_)) {
    error("The command line of the gatherer is longer than %d characters.", kWorkSize - 1);
    return;
  }
  // Told as soon as the script started or could not be, before the wait:
  // the channel is never the script's (not inherited).
  exec_cmd_telling(
      work_,
      [](void* channel, int start_error) {
        static_cast<port::ReportChannel*>(channel)->tell(
            start_error == 0 ? std::string("started")
                             : "no-start " + std::to_string(port::start_error_errno(start_error)));
      },
      &verdict_);
}

// Missing files and files that cannot be removed are passed over. The pid
// file goes only while it is still our claim: once our script has let the
// log go, another launcher may have written its own id there, and without
// it a third would start beside that one's script.
void Launcher::release_directory() {
  long recorded = 0;
  const int read = read_pid_file(kPidFile, &recorded);
  if ((read == 0 && recorded == own_pid_) || (read == kPidFileNoNumber && claim_unfinished_)) {
    port::remove_file(kPidFile);
  }
  port::remove_file("penum.pid");
  port::remove_file("cenum.pid");
}

}  // namespace

int launch_crawler(const char* settings_path) {
  Launcher launcher(settings_path);
  return launcher.run();
}
