#include "admin/lorvexstatus/status.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>

#include "admin/common/data_files.h"
#include "admin/common/diagnostics.h"
#include "admin/common/installation.h"
#include "admin/lorvexstatus/look.h"
#include "admin/lorvexstatus/report.h"
#include "admin/lorvexstatus/state.h"
#include "port/dir_wildcard.h"
#include "port/env.h"
#include "port/file.h"
#include "port/reader_text.h"
#include "port/stream.h"
#include "port/write_check.h"

namespace {

constexpr char kProgram[] = "lorvex-status";
constexpr char kSettingsPattern[] = "*.ini";

class StatusCommand : private Diagnostics {
 public:
  StatusCommand(const std::vector<std::string>& named, bool brief)
      : Diagnostics(kProgram, Shown::kForReader), settings_files_(named), brief_(brief) {}
  int run();

 private:
  bool find_layout_gatherers();
  void look_at_gatherers();
  void find_lock();
  void look_at_lock();
  bool write() const;
  int status() const;

  std::vector<std::string> settings_files_;
  bool brief_;
  std::string start_dir_;
  std::vector<GathererState> gatherers_;
  LockState lock_;
};

int StatusCommand::run() {
  if (settings_files_.empty() && !find_layout_gatherers()) return kStatusAttention;
  if (port::resolve_directory(".", &start_dir_) != 0) {
    error("Cannot tell the current directory (errno=%d).", errno);
    return kStatusAttention;
  }
  // Where the lock is, before any look leaves the starting directory: the
  // registry file's name may be relative to it.
  find_lock();
  look_at_gatherers();
  look_at_lock();
  if (!write()) return kStatusAttention;
  return status();
}

bool StatusCommand::find_layout_gatherers() {
  const char* variable = port::get_env(kGatherersDirVariable);
  const std::string dir = variable != nullptr && *variable != '\0' ? variable : kGatherersDir;
  std::vector<port::DirEntry> entries;
  if (port::find_entries((dir + "/" + kSettingsPattern).c_str(), &entries) != 0) {
    error("Cannot read the folder of the gatherers' settings %s (errno=%d).", dir.c_str(), errno);
    return false;
  }
  // A directory by a settings file's name is shown as one that cannot be
  // read, never passed over.
  for (const port::DirEntry& entry : entries) settings_files_.push_back(dir + "/" + entry.name);
  std::sort(settings_files_.begin(), settings_files_.end());
  if (settings_files_.empty()) say("No gatherer has its settings in %s.", dir.c_str());
  return true;
}

void StatusCommand::look_at_gatherers() {
  for (const std::string& settings : settings_files_) {
    GathererState state;
    look_at_gatherer(settings.c_str(), start_dir_, &state);
    gatherers_.push_back(state);
  }
}

// The installation's one cycle lock, named from anywhere.
void StatusCommand::find_lock() {
  // Quiet: a failed lookup would be a message page on the report's stream.
  const auto install = installation::directory(installation::Quiet::kYes);
  if (!install) return;
  lock_.path = from_start(start_dir_, *install + "/" + kCycleLock);
}

// Present while a cycle tells the search service; present with no cycle at
// work, it was left behind.
void StatusCommand::look_at_lock() {
  if (lock_.path.empty()) return;
  port::FileInfo info;
  // The entry itself: the age of what a link leads to is no lock's.
  if (port::entry_stat(lock_.path.c_str(), &info) != 0) {
    lock_.present = errno == ENOENT ? Seen::kNo : Seen::kCannotTell;
    return;
  }
  lock_.present = Seen::kYes;
  lock_.age = static_cast<long long>(std::time(nullptr)) - info.modified;
  lock_.left_behind = std::none_of(gatherers_.begin(), gatherers_.end(), [](const GathererState& state) {
    return state.cycle_at_work != Seen::kNo;
  });
}

// The report is the command's answer: one that reached no one is no answer,
// whatever it says.
bool StatusCommand::write() const {
  if (port::started_without(stdout)) {
    error("Cannot write the report: the command was started without standard output.");
    return false;
  }
  // Written at once, so that a failing write's own error is the one told.
  // UTF-8 throughout (what files said made so by each look, the lock's path
  // here), then in the reader's character set.
  LockState lock = lock_;
  lock.path = port::text_for_reader(lock_.path, port::TextFor::kRecord);
  const std::string report = port::utf8_for_reader(brief_ ? brief_text(gatherers_, lock) : table_text(gatherers_, lock),
                                                   port::TextFor::kTerminal, port::LineBreaks::kKept);
  if (std::fwrite(report.data(), 1, report.size(), stdout) != report.size() || port::flush_checked(stdout) != 0) {
    error("Cannot write the report (errno=%d).", errno);
    return false;
  }
  return true;
}

int StatusCommand::status() const {
  const bool lock_fine = !lock_.path.empty() && (lock_.present == Seen::kNo || (lock_.present == Seen::kYes && !lock_.left_behind));
  const bool gatherers_fine = std::none_of(gatherers_.begin(), gatherers_.end(),
                                           [](const GathererState& state) { return state.needs_attention(); });
  return lock_fine && gatherers_fine ? kStatusFine : kStatusAttention;
}

}  // namespace

int run_status_command(const std::vector<std::string>& settings_files, bool brief) {
  StatusCommand command(settings_files, brief);
  return command.run();
}
