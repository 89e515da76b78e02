#include "admin/lorvexstatus/look.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "admin/common/data_files.h"
#include "admin/common/installation.h"
#include "admin/common/settings_line.h"
#include "admin/process/process_files.h"
#include "admin/process/settings.h"
#include "port/file.h"
#include "port/held_open.h"
#include "port/stream.h"

namespace {

constexpr char kTemplatesAttribute[] = "Number-Of-Templates{";
constexpr char kDataDirectoryName[] = "Data-Directory:";
// Where the gatherer's databases are when its configuration does not say.
constexpr char kDefaultDataDirectory[] = "data";
constexpr int kLineSize = 1560;

constexpr KeyRule kKeys[] = {
    {"GATHERER_NAME", KeyUse::kKeep},
    {"KESTREL_HOME", KeyUse::kKeep},
    {"GATHERER_DATA", KeyUse::kKeep},
};

std::string errno_text(const char* what, int error) {
  return std::string(what) + " (errno=" + std::to_string(error) + ")";
}

// The first line of a file, without its line break; false when it cannot be
// read (errno), true with "" for a missing file.
bool first_line(const std::string& path, std::string* line) {
  line->clear();
  std::FILE* file = port::open_file(path.c_str(), "r");
  if (file == nullptr) return errno == ENOENT;
  for (int c = std::fgetc(file); c != EOF && c != '\n'; c = std::fgetc(file)) *line += static_cast<char>(c);
  const bool read = !std::ferror(file);
  std::fclose(file);
  return read;
}

std::string trimmed(const char* text) {
  std::string value(text);
  const std::size_t first = value.find_first_not_of(" \t");
  if (first == std::string::npos) return "";
  return value.substr(first, value.find_last_not_of(" \t") - first + 1);
}

// A path as text compares: separators alike, no separator at the end.
std::string comparable(std::string path) {
  for (char& c : path) {
    if (c == '\\') c = '/';
  }
  while (path.size() > 1 && path.back() == '/') path.pop_back();
  return path;
}

class GathererLook {
 public:
  GathererLook(const char* settings_path, const std::string& start_dir, GathererState* state)
      : settings_path_(settings_path),
        start_dir_(start_dir),
        state_(*state),
        settings_(kKeys, OtherLines::kIgnore) {}
  bool run();

 private:
  bool read_settings();
  bool look_at_cycle();
  void look_at_daemon();
  void read_last_cycle();
  void look_at_database();
  void compare_data_directories();

  std::string in_gatherer_dir(const std::string& name) const { return gatherer_dir_ + "/" + name; }
  std::string in_data_dir(const std::string& name) const { return data_dir_ + "/" + name; }

  const char* settings_path_;
  const std::string& start_dir_;
  GathererState& state_;
  ProcessSettings settings_;
  std::string gatherer_dir_;
  std::string data_dir_;
};

bool GathererLook::run() {
  if (!read_settings()) return true;
  if (!look_at_cycle()) return false;
  look_at_daemon();
  read_last_cycle();
  look_at_database();
  compare_data_directories();
  return true;
}

bool GathererLook::read_settings() {
  state_.settings = settings_path_;
  state_.name = settings_path_;
  switch (settings_.read(settings_path_)) {
    case ReadResult::kCannotOpen:
      state_.problem = errno_text("the settings file cannot be opened", settings_.open_error());
      return false;
    case ReadResult::kInvalid:
      state_.problem = "the settings file is invalid";
      return false;
    case ReadResult::kRead:
      break;
  }
  const char* name = settings_.get("GATHERER_NAME");
  const char* home = settings_.get("KESTREL_HOME");
  const char* data = settings_.get("GATHERER_DATA");
  if (name != nullptr) state_.name = name;
  if (name == nullptr || home == nullptr || data == nullptr) {
    state_.problem = "the settings file lacks GATHERER_NAME, KESTREL_HOME or GATHERER_DATA";
    return false;
  }
  char dir[2 * kProcessLineSize + 16];
  if (!compose_gatherer_directory(home, name, dir, sizeof dir)) {
    state_.problem = "the gatherer directory is too long";
    return false;
  }
  // The POSIX installation's own form, as the administrator types paths.
  installation::swap_separators(dir, '\\', '/');
  gatherer_dir_ = dir;
  data_dir_ = data;
  return true;
}

// Asked in the gatherer directory, as the launcher asks it there.
bool GathererLook::look_at_cycle() {
  if (port::change_dir(gatherer_dir_.c_str()) != 0) {
    if (errno == ENOENT) {
      state_.cycle_at_work = Seen::kNo;
      state_.warnings.push_back("there is no gatherer directory " + gatherer_dir_);
    } else {
      state_.cycle_why = errno_text("the gatherer directory cannot be entered", errno);
    }
    return true;
  }
  const GathererWork work = check_gatherer_work(kLauncherProgram);
  switch (work.answer) {
    case GathererWork::kIdle:
      state_.cycle_at_work = Seen::kNo;
      break;
    case GathererWork::kAtWork:
      state_.cycle_at_work = Seen::kYes;
      break;
    case GathererWork::kCannotTell:
      state_.cycle_why = work.why;
      break;
  }
  if (port::change_dir(start_dir_.c_str()) != 0) {
    state_.problem = errno_text("the command's own directory cannot be entered again", errno);
    return false;
  }
  return true;
}

// As the daemon's stopper decides: no pid file is no daemon; else the log,
// held open for writing, tells that it runs.
void GathererLook::look_at_daemon() {
  if (!port::exists(in_data_dir(kExportdPidFile).c_str())) {
    state_.daemon = errno == ENOENT ? "free" : "cannot tell";
    return;
  }
  switch (port::held_open_for_writing(in_data_dir(kExportdLog).c_str())) {
    case port::HoldState::kHeld:
      state_.daemon = "held";
      break;
    case port::HoldState::kFree:
    case port::HoldState::kMissing:
      state_.daemon = "free";
      break;
    default:
      // A device as the log, or a log that cannot be tested.
      state_.daemon = "cannot tell";
      break;
  }
}

void GathererLook::read_last_cycle() {
  std::string line;
  if (!first_line(in_gatherer_dir(kLastCycle), &line)) {
    state_.warnings.push_back(errno_text("last-cycle cannot be read", errno));
    return;
  }
  state_.last_cycle = line;
  const std::size_t at = line.find(": status ");
  if (at != std::string::npos) state_.last_status = std::atoi(line.c_str() + at + 9);
}

void GathererLook::look_at_database() {
  port::FileInfo production;
  if (port::file_stat(in_data_dir(kProduction).c_str(), &production) != 0) return;
  state_.database_age = static_cast<long long>(std::time(nullptr)) - production.modified;
  std::FILE* info = port::open_file(in_data_dir(kInfo).c_str(), "r");
  if (info == nullptr) return;
  char line[kLineSize];
  while (std::fgets(line, sizeof line, info) != nullptr) {
    if (std::strncmp(line, kTemplatesAttribute, sizeof kTemplatesAttribute - 1) != 0) continue;
    const char* value = std::strstr(line, "}:");
    if (value != nullptr) state_.templates = std::strtoll(value + 2, nullptr, 10);
    break;
  }
  std::fclose(info);
}

// The export daemon serves GATHERER_DATA; the cycle writes where the
// gatherer's configuration says. Apart, a cycle's database is never served.
void GathererLook::compare_data_directories() {
  const std::string configuration = in_gatherer_dir(state_.name + ".cf");
  std::FILE* file = port::open_file(configuration.c_str(), "r");
  if (file == nullptr) {
    state_.warnings.push_back(errno_text(("the data directories cannot be compared: " + configuration +
                                          " cannot be opened").c_str(), errno));
    return;
  }
  std::string cycle_data = kDefaultDataDirectory;
  char line[kLineSize];
  SettingsLines lines(file, line, sizeof line, LongLine::kInPieces);
  while (lines.next() == SettingsLines::Result::kLine) {
    if (std::strncmp(line, kDataDirectoryName, sizeof kDataDirectoryName - 1) == 0) {
      cycle_data = trimmed(line + sizeof kDataDirectoryName - 1);
    }
  }
  std::fclose(file);
  // A relative directory is the gatherer directory's.
  if (cycle_data.empty() || (cycle_data[0] != '/' && cycle_data[0] != '\\')) cycle_data = in_gatherer_dir(cycle_data);
  std::string served, written;
  const bool same = port::resolve_directory(data_dir_.c_str(), &served) == 0 &&
                            port::resolve_directory(cycle_data.c_str(), &written) == 0
                        ? served == written
                        : comparable(data_dir_) == comparable(cycle_data);
  if (!same) {
    state_.warnings.push_back("GATHERER_DATA " + data_dir_ + " and the Data-Directory " + cycle_data + " of " +
                              state_.name + ".cf disagree: the export daemon does not serve the cycle's database");
  }
}

}  // namespace

bool look_at_gatherer(const char* settings_path, const std::string& start_dir, GathererState* state) {
  GathererLook look(settings_path, start_dir, state);
  return look.run();
}
