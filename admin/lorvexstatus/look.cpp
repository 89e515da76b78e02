#include "admin/lorvexstatus/look.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

#include "admin/common/command_line.h"
#include "admin/common/data_files.h"
#include "admin/common/settings_line.h"
#include "admin/lorvexstatus/records.h"
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
  void run();

 private:
  bool read_settings();
  void look_at_cycle();
  void look_at_daemon();
  void read_last_cycle();
  void look_at_database();
  void read_templates();
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

void GathererLook::run() {
  if (!read_settings()) return;
  look_at_cycle();
  look_at_daemon();
  read_last_cycle();
  look_at_database();
  compare_data_directories();
}

bool GathererLook::read_settings() {
  state_.settings = settings_path_;
  state_.name = settings_path_;
  switch (settings_.read(from_start(start_dir_, settings_path_).c_str())) {
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
  // Such a value names no directory anyone can look at, as the launcher and
  // the daemon's stopper refuse it.
  if (const char* key = settings_.key_ending_in_half_character({"KESTREL_HOME", "GATHERER_NAME", "GATHERER_DATA"})) {
    state_.problem = std::string(key) + " " + path_refusal(kPathHalfCharacter);
    return false;
  }
  std::string dir;
  if (!gatherer_directory_as_typed(home, name, &dir)) {
    state_.problem = "the gatherer directory is too long";
    return false;
  }
  // Every later step names its files from wherever the look is.
  gatherer_dir_ = from_start(start_dir_, dir);
  data_dir_ = from_start(start_dir_, data);
  return true;
}

// Asked in the gatherer directory, as the launcher asks it there. Every
// other path of the look is absolute: a starting directory that cannot be
// entered again (another user's, left by sudo) changes nothing.
void GathererLook::look_at_cycle() {
  if (port::change_dir(gatherer_dir_.c_str()) != 0) {
    if (errno == ENOENT) {
      state_.cycle_at_work = Seen::kNo;
      state_.warnings.push_back("there is no gatherer directory " + gatherer_dir_);
    } else {
      state_.cycle_why = errno_text("the gatherer directory cannot be entered", errno);
    }
    return;
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
  // Back where the command started, for tidiness only: when that fails (a
  // directory this user cannot enter) nothing later depends on it.
  port::change_dir(start_dir_.c_str());
}

// As the daemon's stopper decides: no pid file is no daemon; else the log,
// held open for writing, tells that it runs.
void GathererLook::look_at_daemon() {
  port::FileInfo pid_file;
  if (port::entry_stat(in_data_dir(kExportdPidFile).c_str(), &pid_file) != 0) {
    if (errno == ENOENT) {
      state_.daemon = "free";
    } else {
      state_.daemon_why = errno_text((std::string(kExportdPidFile) + " cannot be looked at").c_str(), errno);
    }
    return;
  }
  const char* why = nullptr;
  switch (port::held_open_for_writing(in_data_dir(kExportdLog).c_str(), &why)) {
    case port::HoldState::kHeld:
      state_.daemon = "held";
      break;
    case port::HoldState::kFree:
    case port::HoldState::kMissing:
      state_.daemon = "free";
      break;
    case port::HoldState::kDevice:
      state_.daemon_why = std::string(kExportdLog) + " is a device";
      break;
    case port::HoldState::kLink:
      state_.daemon_why = std::string(kExportdLog) + " is a symbolic link";
      break;
    default:
      state_.daemon_why = std::string("whether ") + kExportdLog + " is held cannot be tested" +
                          (why != nullptr && *why != '\0' ? std::string(": ") + why : std::string());
      break;
  }
}

void GathererLook::read_last_cycle() {
  const std::string path = in_gatherer_dir(kLastCycle);
  port::FileInfo info;
  if (port::entry_stat(path.c_str(), &info) != 0) {
    if (errno != ENOENT) {
      state_.last_unknown = true;
      state_.warnings.push_back(errno_text("last-cycle cannot be read", errno));
    }
    return;
  }
  // What a link leads to is never shown: it could be any file the command
  // may read, and a FIFO or a device would keep the command waiting.
  if (!info.is_regular) {
    state_.last_unknown = true;
    state_.warnings.push_back("last-cycle is " + kind_of(info) + ", not a regular file: it is not read");
    return;
  }
  std::string line;
  switch (first_line(path, kRecordLineLimit, &line)) {
    case FirstLine::kMissing:
      return;
    case FirstLine::kUnreadable:
      state_.last_unknown = true;
      state_.warnings.push_back(errno_text("last-cycle cannot be read", errno));
      return;
    case FirstLine::kTooLong:
      state_.last_unknown = true;
      state_.warnings.push_back("last-cycle cannot be understood: its first line is longer than " +
                                std::to_string(kRecordLineLimit) + " bytes");
      return;
    case FirstLine::kRead:
      break;
  }
  const int status = record_status(line, state_.name);
  if (status < 0) {
    state_.last_unknown = true;
    state_.warnings.push_back("last-cycle cannot be understood");
    return;
  }
  state_.last_cycle = line;
  state_.last_status = status;
}

void GathererLook::look_at_database() {
  port::FileInfo production;
  const std::string database = in_data_dir(kProduction);
  if (port::file_stat(database.c_str(), &production) != 0) {
    if (errno != ENOENT) {
      state_.database_unknown = true;
      state_.warnings.push_back(errno_text((std::string(kProduction) + " cannot be looked at").c_str(), errno));
    }
  } else if (!production.is_regular) {
    state_.database_unknown = true;
    state_.warnings.push_back(std::string(kProduction) + " is " + kind_of(production) + ", not a database");
  } else {
    state_.database_age = static_cast<long long>(std::time(nullptr)) - production.modified;
    // The statistics count the templates of a database there is.
    read_templates();
  }
}

// The count of templates in the statistics: "-" when there are none, or they
// cannot be read or understood.
void GathererLook::read_templates() {
  const std::string statistics = in_data_dir(kInfo);
  port::FileInfo info;
  if (port::file_stat(statistics.c_str(), &info) != 0) {
    if (errno != ENOENT) state_.warnings.push_back(errno_text((std::string(kInfo) + " cannot be read").c_str(), errno));
    return;
  }
  if (!info.is_regular) {
    state_.warnings.push_back(std::string(kInfo) + " is " + kind_of(info) + ", not a regular file: it is not read");
    return;
  }
  std::FILE* file = port::open_file(statistics.c_str(), "r");
  if (file == nullptr) {
    state_.warnings.push_back(errno_text((std::string(kInfo) + " cannot be read").c_str(), errno));
    return;
  }
  char line[kLineSize];
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (std::strncmp(line, kTemplatesAttribute, sizeof kTemplatesAttribute - 1) != 0) continue;
    const char* value = std::strstr(line, "}:");
    state_.templates = value != nullptr ? count_value(value + 2) : -1;
    if (state_.templates < 0) {
      state_.warnings.push_back(std::string(kInfo) + " cannot be understood: its Number-Of-Templates is no count");
    }
    break;
  }
  std::fclose(file);
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

std::string from_start(const std::string& start_dir, const std::string& path) {
  const bool absolute = !path.empty() && (path[0] == '/' || path[0] == '\\' ||
                                          (path.size() > 1 && path[1] == ':'));
  return absolute ? path : start_dir + "/" + path;
}

void look_at_gatherer(const char* settings_path, const std::string& start_dir, GathererState* state) {
  GathererLook look(settings_path, start_dir, state);
  look.run();
}
