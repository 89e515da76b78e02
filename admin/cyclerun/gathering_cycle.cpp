#include "admin/cyclerun/gathering_cycle.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <string>

#include "admin/common/command_line.h"
#include "admin/common/data_files.h"
#include "admin/common/diagnostics.h"
#include "admin/common/exec_cmd.h"
#include "admin/common/outcome_record.h"
#include "admin/cyclerun/notify.h"
#include "port/env.h"
#include "port/file.h"
#include "port/process.h"
#include "port/text.h"

namespace {

// Every path and command line the cycle builds fits in this buffer with its
// terminating zero.
constexpr int kWorkBufferSize = 2080;

class Cycle {
 public:
  Cycle(const char* settings_path, const SettingsStore& settings) : path_(settings_path), settings_(settings) {}
  // The cycle's steps, then the record of how they went.
  void run();

 private:
  // How far the cycle went: to its end, or to a setting it refused, or to a
  // step that could not be started.
  enum class Ending { kWhole, kInvalid, kNoStart };
  // The steps; each that cannot go on has said why and ends the cycle.
  void run_steps();
  // Leaves the record of the run in the working directory, for the cycle
  // command: each step's end, how far the cycle went, and the notice.
  void keep_record();

  // Both directories' values can be used: false after a message.
  bool check_directories();
  // Ages the production database and indexes it anew, when there is one.
  bool expire_production();
  // The URL seeding pipeline into the gatherer's summarizer.
  bool gather();
  // The cache and the per-run files of the working directory.
  void remove_run_files();
  // Tells the search service, for a gatherer name that fits the request.
  void notify();

  const char* get(Setting name) const { return settings_.get(name); }

  // A path or command line of the cycle; one longer than the cycle's
  // buffers hold is refused with a message (nullopt), never cut.
  __attribute__((format(printf, 3, 4))) std::optional<std::string> compose(const char* what, const char* format,
                                                                           ...) {
    char text[kWorkBufferSize];
    std::va_list args;
    va_start(args, format);
    const bool fits = vcompose_line(text, sizeof text, format, args);
    va_end(args);
    if (!fits) {
      too_long(what);
      return std::nullopt;
    }
    return std::string(text);
  }
  void too_long(const char* what);
  // The path of the file name in dir.
  std::optional<std::string> join(const char* dir, const char* name) {
    return compose((std::string("the path of ") + name).c_str(), "%s\\%s", dir, name);
  }

  // False after a message when the directory's value ends in half a
  // character, which would swallow the separator joined after it.
  bool whole_characters(const char* dir, const char* setting);

  // Checks the working directory's value and resolves it into work_dir_;
  // false after a message.
  bool resolve_work_dir();

  // The working directory's file name as one word of an interpreter line;
  // nullopt after a message when it cannot be had.
  std::optional<std::string> dir_file_word(const char* what, const char* work_dir, const char* name);

  // Runs a configured command line and records its end under the setting's
  // name; false when it could not be started, which ends the cycle. A
  // missing command line runs nothing and is not recorded.
  bool run_command(const char* key, const char* command_line);

  // The settings file is refused with what is wrong with it: a missing
  // command or name, a buffer that is too small. The cycle ends there.
  void error(const char* detail) {
    ending_ = Ending::kInvalid;
    Diagnostics("cyclerun").error("%s is invalid.  (%s)", path_, detail);
  }

  const char* path_;
  const SettingsStore& settings_;
  std::string work_dir_;  // the working directory every step names
  Ending ending_ = Ending::kWhole;
  const char* notice_ = "none";
  RecordWriter record_{"cyclerun"};
};

bool Cycle::run_command(const char* key, const char* command_line) {
  if (command_line == nullptr || *command_line == '\0') return true;
  const ChildEnd end = exec_cmd_telling(command_line);
  record_.add(key, result_value(end.status, end.signal, end.start_errno));
  if (end.status != -1 || end.start_errno == 0) return true;
  ending_ = Ending::kNoStart;
  return false;
}

void Cycle::too_long(const char* what) {
  char detail[160];
  std::snprintf(detail, sizeof detail, "%s is longer than %d characters.", what, kWorkBufferSize - 1);
  error(detail);
}

bool Cycle::whole_characters(const char* dir, const char* setting) {
  if (dir == nullptr || !port::ends_in_half_character(dir)) return true;
  char detail[96];
  std::snprintf(detail, sizeof detail, "%s %s.", setting, path_refusal(kPathHalfCharacter));
  error(detail);
  return false;
}

std::optional<std::string> Cycle::dir_file_word(const char* what, const char* work_dir, const char* name) {
  const auto path = compose(what, "%s\\%s", work_dir, name);
  if (!path) return std::nullopt;
  char word[kWorkBufferSize];
  if (quote_path(path->c_str(), word, sizeof word) == 0) return std::string(word);
  too_long(what);
  return std::nullopt;
}

bool Cycle::resolve_work_dir() {
  const char* value = get(Setting::kWorkingDirectory);
  if (value == nullptr) return true;  // said when the pipeline needs it
  char detail[256];
  if (const int refused = check_line_value(value)) {
    std::snprintf(detail, sizeof detail, "Working-Directory %s.", path_refusal(refused));
    error(detail);
    return false;
  }
  if (port::resolve_directory(value, &work_dir_) != 0) {
    if (errno == EILSEQ) {
      // A "\" in a directory's own name would be a separator to every later
      // step, and a character the code page holds by a best fit alone
      // another character: either names another directory.
      error("Working-Directory leads to a path that cannot be named exactly (a \\ in a directory's name, or a "
            "character that the code page holds only by a best fit).");
    } else {
      std::snprintf(detail, sizeof detail, "Working-Directory cannot be found (errno=%d).", errno);
      error(detail);
    }
    return false;
  }
  // The path a link leads to is checked as the value is.
  if (const int refused = check_line_value(work_dir_.c_str())) {
    std::snprintf(detail, sizeof detail, "Working-Directory leads to a path that %s.", path_refusal(refused));
    error(detail);
    return false;
  }
  return true;
}

void Cycle::run() {
  run_steps();
  keep_record();
}

void Cycle::run_steps() {
  if (!check_directories()) return;
  if (!run_command("linkprunecmd", get(Setting::kLinkprunecmd))) return;
  if (!expire_production()) return;
  if (!gather()) return;
  remove_run_files();
  if (!run_command("storesealcmd", get(Setting::kStoresealcmd))) return;
  notify();
}

void Cycle::keep_record() {
  // Without a working directory the record has no place: the cycle command
  // then finds none, which is no clean cycle either.
  if (work_dir_.empty()) return;
  record_.add("ended", ending_ == Ending::kWhole ? "whole" : ending_ == Ending::kInvalid ? "invalid" : "no-start");
  record_.add("notice", notice_);
  if (const char* data_dir = get(Setting::kDataDirectory)) {
    std::string resolved;
    record_.add_text("data-directory", port::resolve_directory(data_dir, &resolved) == 0 ? resolved : data_dir);
  }
  const auto path = join(work_dir_.c_str(), kCyclerunRecord);
  if (!path) return;
  if (record_.write(*path) != 0) {
    Diagnostics("cyclerun").error("Cannot keep the record of this cycle in %s (errno=%d).", path->c_str(), errno);
  }
}

bool Cycle::check_directories() {
  // The working directory goes into the interpreter's lines: a value no
  // quoting can name exactly is refused before anything runs. Every step
  // then names the one directory it resolves to, so that the lines and the
  // file operations never read a link followed by ".." differently.
  if (!resolve_work_dir()) return false;
  // The data directory has file names joined after it.
  return whole_characters(get(Setting::kDataDirectory), "Data-Directory");
}

bool Cycle::expire_production() {
  // Expiry and a new index only for a gatherer that has a production database.
  const char* data_dir = get(Setting::kDataDirectory);
  if (data_dir == nullptr) return true;
  const auto production = join(data_dir, kProduction);
  if (!production) return false;
  if (!port::exists(production->c_str())) return true;
  port::make_writable(production->c_str());
  if (!run_command("agecullcmd", get(Setting::kAgecullcmd))) return false;
  for (const char* name : {kIndex, kMd5}) {
    if (const auto path = join(data_dir, name)) port::remove_file(path->c_str());
  }
  return run_command("keybuildcmd", get(Setting::kKeybuildcmd));
}

bool Cycle::gather() {
  const char* seed = get(Setting::kSeedcmd);
  const char* essence = get(Setting::kEssencecmd);
  if (seed == nullptr) {
    error("seedurls command is lost.");
    return false;
  }
  if (essence == nullptr) {
    error("essence command is lost.");
    return false;
  }
  if (get(Setting::kWorkingDirectory) == nullptr) {
    error("Working-Directory is lost.");
    return false;
  }
  const auto input = dir_file_word("the URL seeding pipeline", work_dir_.c_str(), kGatherInput);
  if (!input) return false;
  const auto pipeline = compose("the URL seeding pipeline", "cmd.exe /C type %s | %s | %s", input->c_str(), seed,
                                essence);
  return pipeline && run_command("pipeline", pipeline->c_str());
}

void Cycle::remove_run_files() {
  const char* work_dir = work_dir_.c_str();
  const char* keep_cache = get(Setting::kKeepCache);
  if (keep_cache == nullptr || (keep_cache[0] != 'y' && keep_cache[0] != 'Y')) {
    if (const auto cache = dir_file_word("the cache removal command", work_dir, "cache-liburl")) {
      if (const auto line = compose("the cache removal command", "rmdir /S /Q %s", cache->c_str())) {
        port::run_shell(line->c_str());
      }
    }
  }
  // Files only, never through a link: the interpreter's del would be handed
  // a directory as "all its files", or wait for an answer to that question.
  // Missing files and failures go unremarked, as they always have.
  for (const char* name : {"localmap.cf", "HTTPAuth.cf", "FTPAuth.cf"}) {
    const auto path = join(work_dir, name);
    if (path && port::remove_plain_file(path->c_str()) != 0 && errno == EPERM) {
      Diagnostics("cyclerun").error("%s is not a file: it is left in place.", path->c_str());
    }
  }
  // The per-run files stay for a look when debugging.
  if (port::get_env("KESTREL_DEBUG") == nullptr) {
    for (const char* name : {"cyclerun.ini", kGatherInput}) {
      if (const auto path = join(work_dir, name)) port::remove_file(path->c_str());
    }
  }
}

void Cycle::notify() {
  // No request is built from an absent or oversized name.
  const char* gatherer_name = get(Setting::kGathererName);
  if (gatherer_name == nullptr) {
    error("Gatherer-Name is lost.");
    return;
  }
  if (std::strlen(gatherer_name) > kMaxGathererName) {
    char detail[64];
    std::snprintf(detail, sizeof detail, "Gatherer-Name is longer than %d bytes.", kMaxGathererName);
    error(detail);
    return;
  }
  switch (notify_service(gatherer_name)) {
    case Notice::kTold: notice_ = "told"; break;
    case Notice::kToldNonzero: notice_ = "told-nonzero"; break;
    case Notice::kNotTold: notice_ = "not-told"; break;
  }
}

}  // namespace

void run_gathering_cycle(const char* settings_path, const SettingsStore& settings) {
  Cycle cycle(settings_path, settings);
  cycle.run();
}
