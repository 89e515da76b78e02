#include "admin/lorvexstatus/look.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <vector>

#include "admin/common/command_line.h"
#include "admin/common/data_files.h"
#include "admin/common/outcome_record.h"
#include "admin/common/settings_line.h"
#include "admin/lorvexstatus/records.h"
#include "admin/processfiles/process_files.h"
#include "admin/processfiles/settings.h"
#include "port/change_rule.h"
#include "port/file.h"
#include "port/file_lock.h"
#include "port/held_open.h"
#include "port/stream.h"
#include "port/user_switch.h"

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

// The most of a file the look reads whole (the statistics, a .cf).
constexpr std::size_t kViewLimit = 1 << 20;

// A file the look reads whole, at the name itself and never waiting: not
// on a FIFO's other end, and not on another user's lease, which a view may
// not sit out. False with the reason.
bool read_viewed(const std::string& path, std::string* text, std::string* why) {
  port::SmallFile file;
  switch (port::read_small_file(path.c_str(), kViewLimit, &file)) {
    case port::SmallRead::kRead:
      *text = std::move(file.bytes);
      return true;
    case port::SmallRead::kMissing: *why = "there is none"; break;
    case port::SmallRead::kNotRegular: *why = "it is no regular file"; break;
    case port::SmallRead::kTooLarge: *why = "it is longer than " + std::to_string(kViewLimit) + " bytes"; break;
    case port::SmallRead::kUnreadable:
      *why = errno == EWOULDBLOCK ? std::string("another process holds a lease on it")
                                  : "errno=" + std::to_string(errno);
      break;
  }
  return false;
}

// The lines of a text, without their line breaks (and a carriage return
// before one).
std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(std::move(line));
    at = end + 1;
  }
  return lines;
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
  // Everything the look reads of the gatherer's tree.
  void look();
  // The same in a child that runs as the tree's owner, for root over a tree
  // that root does not own: nothing that user can change is read with
  // root's rights.
  void look_as_owner();
  void look_at_cycle();
  void look_at_daemon();
  void read_last_cycle();
  // A cycle the cycle command began and never ended, with no command at
  // work: killed (or the machine stopped) before it could say how it ended.
  void look_for_interrupted_cycle();
  void read_finishing();
  void look_at_database();
  // Whether the dump is the database's, by packdump's record of both.
  void look_at_dump();
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
  unsigned long tree_owner_ = 0;
  std::string last_cycle_id_;
};

void GathererLook::run() {
  if (!read_settings()) return;
  const bool others_tree = tree_owner_ != 0 && tree_owner_ != static_cast<unsigned long>(-1);
  if (port::running_as_root() && others_tree) {
    look_as_owner();
  } else {
    look();
  }
  make_readable(&state_);
}

void GathererLook::look() {
  look_at_cycle();
  look_at_daemon();
  read_last_cycle();
  look_for_interrupted_cycle();
  read_finishing();
  look_at_database();
  look_at_dump();
  compare_data_directories();
}

void GathererLook::look_as_owner() {
  port::UserAccount owner;
  if (port::find_user_by_id(tree_owner_, &owner) != 0) {
    state_.problem = "the gatherer directory " + gatherer_dir_ + " is owned by user id " + std::to_string(tree_owner_) +
                     ", which has no account to look as";
    return;
  }
  std::string text, why;
  const auto as_owner = [this] {
    look();
    return state_text(state_);
  };
  if (port::run_as_user(owner, as_owner, &text, &why) != 0) {
    state_.problem = "the gatherer directory is " + owner.name + "'s, and the look as " + owner.name + " failed: " + why;
  } else if (!state_from_text(text, &state_)) {
    state_.problem = "the look as " + owner.name + " gave no state that can be read";
  }
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
    case ReadResult::kOtherEncoding:
      state_.problem = "the settings file " + settings_.other_encoding_refusal();
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
  tree_owner_ = port::owner_of(gatherer_dir_.c_str());
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
      // A stop removes the pid file: one left names a daemon that ended
      // without its stop (killed, or crashed), which nothing restarted.
      state_.warnings.push_back(std::string(kExportdPidFile) +
                                " is left behind: it names no running daemon (the daemon ended without a stop)");
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

// A record that is there but cannot be taken is "cannot tell", never none.
void GathererLook::read_last_cycle() {
  Record record;
  std::string why;
  if (!read_record(in_gatherer_dir(kLastCycle), kLastCycleSchema, "", tree_owner_, &record, &why)) {
    if (why != "there is none") {
      state_.last_unknown = true;
      state_.warnings.push_back("last-cycle cannot be read: " + why);
    }
    return;
  }
  last_cycle_id_ = record.get("cycle");
  state_.last_status = std::stoi(record.get("status"));
  state_.last_cycle = "status " + record.get("status") + ": " + record.get("what") + " (" + record.get("ended") + ")";
  if (record.has("last-clean-at")) state_.last_clean_at = std::stoll(record.get("last-clean-at"));
}

void GathererLook::look_for_interrupted_cycle() {
  Record began;
  std::string why;
  if (!read_record(in_gatherer_dir(kCycleBegan), kCycleBeganSchema, "", tree_owner_, &began, &why)) return;
  if (began.get("cycle") == last_cycle_id_) return;
  // Still at work while its lock is held (by the command, or by the cycle's
  // programs that a killed command left running).
  switch (port::FileLock::held(in_gatherer_dir(kCycleCommandLock).c_str())) {
    case port::FileLock::Held::kYes:
      return;
    case port::FileLock::Held::kCannotTell:
      state_.warnings.push_back(std::string("whether the cycle begun ") + began.get("began") +
                                " is still at work cannot be told");
      return;
    case port::FileLock::Held::kNo:
      break;
  }
  state_.interrupted = true;
  state_.last_cycle = "interrupted: the cycle begun " + began.get("began") + " never ended" +
                      (state_.last_cycle.empty() ? "" : "; before it, " + state_.last_cycle);
}

void GathererLook::read_finishing() {
  Record record;
  std::string why;
  if (!read_record(in_data_dir(kStoresealRecord), kStoresealSchema, "", tree_owner_, &record, &why)) {
    if (why != "there is none") {
      state_.finishing = "cannot tell: " + why;
      state_.finishing_failed = true;
    }
    return;
  }
  if (record.get("status") == "0") {
    state_.finishing = "done";
    return;
  }
  state_.finishing_failed = true;
  state_.finishing = "failed at " + record.get("failed") +
                     (record.has("line") ? ": " + record.get("line") : std::string());
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
    state_.database_written = production.modified;
    // A clean cycle writes the database after it began: one older than the
    // last clean cycle is not what that cycle made.
    if (state_.last_clean_at >= 0 && production.modified < state_.last_clean_at) {
      state_.warnings.push_back(std::string(kProduction) +
                                " is older than the last clean cycle: the export daemon does not serve its database");
    }
    // The statistics count the templates of a database there is.
    read_templates();
  }
}

void GathererLook::look_at_dump() {
  if (state_.database_written < 0) return;
  Record record;
  std::string why;
  if (!read_record(in_data_dir(kPackdumpRecord), kPackdumpSchema, "", tree_owner_, &record, &why)) {
    state_.warnings.push_back("whether " + std::string(kDump) + " is the database's cannot be told: the record of " +
                              "its making " + (why == "there is none" ? "is missing" : "cannot be read: " + why));
    return;
  }
  const std::string production = identity_value(in_data_dir(kProduction).c_str());
  const std::string dump = identity_value(in_data_dir(kDump).c_str());
  if (record.get("production") != production || record.get("dump") != dump || dump == "-") {
    state_.warnings.push_back(std::string(kDump) + " is not the dump of " + kProduction +
                              ": the export daemon serves templates of another database");
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
  std::string text, why;
  if (!read_viewed(statistics, &text, &why)) {
    state_.warnings.push_back(std::string(kInfo) + " cannot be read: " + why);
    return;
  }
  for (const std::string& line : lines_of(text)) {
    if (line.compare(0, sizeof kTemplatesAttribute - 1, kTemplatesAttribute) != 0) continue;
    const std::size_t value = line.find("}:");
    state_.templates = value != std::string::npos ? count_value(line.c_str() + value + 2) : -1;
    if (state_.templates < 0) {
      state_.warnings.push_back(std::string(kInfo) + " cannot be understood: its Number-Of-Templates is no count");
    }
    break;
  }
}

// The export daemon serves GATHERER_DATA; the cycle writes where the
// gatherer's configuration says. Apart, a cycle's database is never served.
void GathererLook::compare_data_directories() {
  const std::string configuration = in_gatherer_dir(state_.name + ".cf");
  std::string text, why;
  if (!read_viewed(configuration, &text, &why)) {
    state_.warnings.push_back("the data directories cannot be compared: " + configuration + " cannot be read: " + why);
    return;
  }
  std::string cycle_data = kDefaultDataDirectory;
  for (const std::string& line : lines_of(text)) {
    if (line.compare(0, sizeof kDataDirectoryName - 1, kDataDirectoryName) == 0) {
      cycle_data = trimmed(line.c_str() + sizeof kDataDirectoryName - 1);
    }
  }
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
