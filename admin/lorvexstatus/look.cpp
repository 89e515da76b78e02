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

// The record line lorvex-cycle keeps is short; a longer first line is no
// record, and reading on would only cost time and memory.
constexpr std::size_t kRecordLineLimit = 4096;

// What stands in a file's place when it is no regular file, as the warning
// names it.
std::string kind_of(const port::FileInfo& info) {
  if (info.is_link) return "a symbolic link";
  if (info.is_directory) return "a directory";
  if (info.is_device) return "a device";
  if (info.is_fifo) return "a FIFO";
  return "no regular file";
}

enum class FirstLine { kRead, kMissing, kTooLong, kUnreadable };

// The first line of the regular file at the name itself, without its line
// break (and a carriage return before it), at most limit bytes; the file is
// never reached through a link. kUnreadable leaves errno.
FirstLine first_line(const std::string& path, std::size_t limit, std::string* line) {
  line->clear();
  std::FILE* file = port::open_entry(path.c_str());
  if (file == nullptr) return errno == ENOENT ? FirstLine::kMissing : FirstLine::kUnreadable;
  int c = std::fgetc(file);
  for (; c != EOF && c != '\n' && line->size() <= limit; c = std::fgetc(file)) *line += static_cast<char>(c);
  const int error = errno;
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed) {
    errno = error;
    return FirstLine::kUnreadable;
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return line->size() > limit ? FirstLine::kTooLong : FirstLine::kRead;
}

// Whether text[at, at+count) are digits whose value lies in [low, high].
bool digits_within(const std::string& text, std::size_t at, std::size_t count, int low, int high) {
  if (at + count > text.size()) return false;
  int value = 0;
  for (std::size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    value = value * 10 + (text[i] - '0');
  }
  return value >= low && value <= high;
}

// The status of a record "YYYYMMDD HH:MM:SS NAME: status N: WHAT" of the
// gatherer named, or -1 when the line is no such record. The statuses are
// the few the cycle command ends with.
int record_status(const std::string& line, const std::string& name) {
  for (const char c : line) {
    if ((static_cast<unsigned char>(c) < 0x20 && c != '\t') || c == 0x7f) return -1;  // no text of a record
  }
  const bool stamped = digits_within(line, 0, 4, 0, 9999) && digits_within(line, 4, 2, 1, 12) &&
                       digits_within(line, 6, 2, 1, 31) && line.size() > 17 && line[8] == ' ' &&
                       digits_within(line, 9, 2, 0, 23) && line[11] == ':' && digits_within(line, 12, 2, 0, 59) &&
                       line[14] == ':' && digits_within(line, 15, 2, 0, 60) && line[17] == ' ';
  const std::string head = name + ": status ";
  if (!stamped || line.compare(18, head.size(), head) != 0) return -1;
  const std::size_t number = 18 + head.size();
  const std::size_t end = line.find(": ", number);
  if (end == std::string::npos || end == number || end - number > 2) return -1;
  if (!digits_within(line, number, end - number, 0, 99)) return -1;
  if (end - number == 2 && line[number] == '0') return -1;  // "01" is not how a status is written
  const int status = end - number == 1 ? line[number] - '0' : (line[number] - '0') * 10 + (line[number + 1] - '0');
  return status == 0 || status == 1 || status == 2 || status == 75 ? status : -1;
}

// A value of the statistics, "N" after the attribute's "}:": blanks around
// it, nothing else. -1 when it is no count.
long long count_value(const char* text) {
  while (*text == ' ' || *text == '\t') ++text;
  const char* digits = text;
  long long value = 0;
  constexpr long long kMostTemplates = 999999999999LL;  // more than any database holds
  for (; *text >= '0' && *text <= '9'; ++text) {
    value = value * 10 + (*text - '0');
    if (value > kMostTemplates) return -1;
  }
  if (text == digits) return -1;
  while (*text == ' ' || *text == '\t' || *text == '\r' || *text == '\n') ++text;
  return *text == '\0' ? value : -1;
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
  char dir[2 * kProcessLineSize + 16];
  if (!compose_gatherer_directory(home, name, dir, sizeof dir)) {
    state_.problem = "the gatherer directory is too long";
    return false;
  }
  // The POSIX installation's own form, as the administrator types paths.
  installation::swap_separators(dir, '\\', '/');
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
  port::change_dir(start_dir_.c_str());
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
  }
  read_templates();
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
