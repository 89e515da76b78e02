#include "admin/storeseal/seal.h"

#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <iterator>
#include <string>

#include "admin/common/change_refusal.h"
#include "admin/common/command_line.h"
#include "admin/common/data_files.h"
#include "admin/common/finishing.h"
#include "admin/common/outcome_record.h"
#include "admin/common/step.h"
#include "admin/storeseal/output.h"
#include "admin/storeseal/statistics.h"
#include "port/file.h"
#include "port/file_lock.h"
#include "port/text.h"

namespace {

constexpr char kJoined[] = "storeseal.gdbm";
constexpr char kLock[] = "storeseal.lock";
// A file and the name it waits under (data_files.h says when).
struct AsideName {
  const char* name;
  const char* aside;
};
constexpr AsideName kIndexFiles[] = {{kIndex, kIndexAside}, {kMd5, kMd5Aside}};
// REFRESH.gdbm goes first: a run cut off between the two removals leaves
// WORKING.gdbm, whose join again is harmless, never refreshed templates
// that would bring back what this cycle's expiry removed.
constexpr AsideName kGatheredFiles[] = {{kRefresh, kRefreshJoined}, {kWorking, kWorkingJoined}};
constexpr int kLineSize = kSealLineSize;
constexpr int kDetailSize = 160;

// "A, B and C are ...": the files among names that are there, and what
// became of them (one: the words for one file, many: for more).
std::string present(std::initializer_list<const char*> names, const char* one, const char* many) {
  std::string list;
  std::string last;
  for (const char* name : names) {
    if (!port::exists(name)) continue;
    if (!last.empty()) list += (list.empty() ? "" : ", ") + last;
    last = name;
  }
  return list.empty() ? last + " " + one : list + " and " + last + " " + many;
}

// What a run came to: ready, or the first thing that failed. Later failures
// are said too, but the first one is what the run failed of.
enum class Outcome {
  kReady,  // the new database is in place and described
  // Refused before anything was changed.
  kNoDatabase,
  kUsage,
  // Failed before the new database took the production database's place:
  // the run ends there.
  kClean,
  kConsolidate,
  kIndex,
  // Failed once the new database was in place: the steps after still
  // describe it, and the run ends in failure after them.
  kReplace,
  kGathered,
  kDump,
  kStatistics,
};

// The word the run's record names the outcome by.
const char* failed_word(Outcome outcome) {
  switch (outcome) {
    case Outcome::kReady: return "none";
    case Outcome::kNoDatabase: return "no-database";
    case Outcome::kUsage: return "usage";
    case Outcome::kClean: return "clean";
    case Outcome::kConsolidate: return "consolidate";
    case Outcome::kIndex: return "index";
    case Outcome::kReplace: return "replace";
    case Outcome::kGathered: return "gathered";
    case Outcome::kDump: return "dump";
    case Outcome::kStatistics: return "statistics";
  }
  return "none";
}

bool ends_run(Outcome failure) {
  return failure == Outcome::kClean || failure == Outcome::kConsolidate || failure == Outcome::kIndex;
}

int status_of(Outcome outcome) { return outcome == Outcome::kReady ? 0 : 1; }

// Whose an index left aside by a run cut short is. storeseal.gdbm is there
// from the consolidation until it takes the production database's place,
// and a run that fails removes it only once the old index is back: beside
// it, the index aside is the production database's and is put back;
// without it, the database it belonged to has been replaced and the index
// aside is of no use.
enum class IndexAside { kProductions, kOfNoUse };

IndexAside index_aside_is() { return port::exists(kJoined) ? IndexAside::kProductions : IndexAside::kOfNoUse; }

constexpr char kAsItWas[] = "is left as it was";
constexpr char kAsTheyWere[] = "are left as they were";

// Removes a file the run is done with, made writable first as before every
// other change (a read-only file cannot be removed on Windows). 0, or -1
// with errno; a file that is not there counts as removed.
int give_up(const char* name) {
  if (!port::exists(name)) return 0;
  port::make_writable(name);
  if (port::remove_file(name) == 0 || errno == ENOENT) return 0;
  return -1;
}

class Seal {
 public:
  explicit Seal(const SealArguments& arguments) : args_(arguments) {}
  int run();

 private:
  // The checks that refuse a run before anything is changed; false after a
  // message.
  bool enter_directory();
  bool gathered_databases_readable();
  // Two runs in one directory would each remove and write the other's
  // files; false after a message when another run is at work.
  bool take_lock();
  // The steps of the run in their order; each is false after an error line.
  bool clean();
  bool consolidate();
  bool build_index();
  bool rebuild_dump();
  bool count();
  // Runs "storetidy.exe DATABASE" on a database made writable first.
  bool tidy(const char* database);
  // Puts back an index that a run cut short left aside, or removes one that
  // is of no use any more (index_aside_is). Never refuses the run: a
  // leftover that cannot be put back or removed is said and passed over
  // (this run builds a new index anyway).
  void recover_index();
  bool replace_production();
  // Gives the gathered databases up once the production database holds
  // them; false after an error line when one would be joined again.
  bool remove_gathered();
  // Puts the old index back in the place of what the index step made (when
  // it ran) and says why the new database was not taken.
  void keep_old_database(const char* why, bool index_made);

  // The first failure is the run's outcome, told by the first error line.
  void fail(Outcome failure) {
    if (outcome_ == Outcome::kReady) outcome_ = failure;
  }
  // Leaves the record of the run in the data directory, for the cycle
  // command and the status command. A run that another run's lock kept out
  // leaves none: that record is the other run's.
  void keep_record();

  // A step of the run: its progress text, what it does, and the outcome of
  // a run that fails there.
  struct SealStep {
    const char* progress;
    bool (Seal::*work)();
    Outcome failure;
  };
  static const SealStep kSteps[];

  const SealArguments& args_;
  SealOutput out_;
  StatisticsLines statistics_;
  // REFRESH.gdbm was there when the run began: it is cleaned, consolidated
  // and removed; one that turns up later is left alone.
  bool refresh_ = false;
  // The dump that packdump left is not the one that was there before it.
  bool dump_is_new_ = false;
  Outcome outcome_ = Outcome::kReady;
  // This run moved the index file of the same place in kIndexFiles aside.
  bool moved_aside_[std::size(kIndexFiles)] = {};
  // Kept by the children too, so that a run killed while its children work
  // still keeps the next one out.
  port::FileLock lock_;
};

const Seal::SealStep Seal::kSteps[] = {
    {"Cleaning up the gathered templates...", &Seal::clean, Outcome::kClean},
    {"Consolidating databases...", &Seal::consolidate, Outcome::kConsolidate},
    {"Building an index for the Gatherer...", &Seal::build_index, Outcome::kIndex},
    {"Building the exportd cache...", &Seal::rebuild_dump, Outcome::kDump},
    {"Generating statistics of the database...", &Seal::count, Outcome::kStatistics},
};

bool Seal::enter_directory() {
  if (port::ends_in_half_character(args_.directory)) {
    out_.error("The directory %s %s.", args_.directory, path_refusal(kPathHalfCharacter));
    return false;
  }
  port::FileInfo info;
  if (port::file_stat(args_.directory, &info) != 0 || !info.is_directory) {
    out_.say("%s is not a directory", args_.directory);
    return false;
  }
  // Run as root, the databases and the tools are root's alone to change.
  const std::string command =
      *args_.save_space != '\0' ? command_for_shell({"storeseal", args_.save_space, args_.gatherer_id, args_.directory})
                                : command_for_shell({"storeseal", args_.gatherer_id, args_.directory});
  if (const auto refusal =
          refusal_as_root(with_framework_of_environment({{"The data directory", args_.directory}}), command)) {
    out_.error("%s", refusal->c_str());
    return false;
  }
  // A directory that cannot be entered must not leave the run in the one it
  // was started in.
  if (port::change_dir(args_.directory) != 0) {
    out_.error("Cannot change into %s (errno=%d); nothing was changed.", args_.directory, errno);
    return false;
  }
  return true;
}

bool Seal::gathered_databases_readable() {
  if (!port::is_readable(kWorking)) {
    out_.error("%s is not present in the current directory.", kWorking);
    out_.say("Perhaps your Gatherer did not generate a database.");
    return false;
  }
  // Refreshed templates that cannot be read could be neither consolidated
  // nor given up.
  refresh_ = port::exists(kRefresh);
  if (refresh_ && !port::is_readable(kRefresh)) {
    out_.error("%s cannot be read (errno=%d); nothing was changed.", kRefresh, errno);
    return false;
  }
  return true;
}

bool Seal::take_lock() {
  std::string refusal;
  if (take_finishing_lock(&lock_, "storeseal", kLock, "nothing was changed", "nothing was changed", &refusal)) {
    return true;
  }
  out_.error("%s.", refusal.c_str());
  return false;
}

bool Seal::clean() {
  recover_index();
  return tidy(kWorking) && (!refresh_ || tidy(kRefresh));
}

bool Seal::tidy(const char* database) {
  char line[kLineSize];
  char detail[kDetailSize];
  port::make_writable(database);
  const long long before = size_of(database);
  bool cleaned = compose_line(line, sizeof line, "storetidy.exe %s", database) &&
                 run_step({.line = line, .name = "storetidy.exe", .program = "storetidy.exe", .made = {database}},
                          detail, sizeof detail);
  // What the cleaning destroyed cannot be had back, but a database emptied
  // from one that was not is no cleaning: nothing of it may be consolidated.
  if (cleaned && before > 0 && size_of(database) == 0) {
    std::snprintf(detail, sizeof detail, "storetidy.exe left %s empty, from a database that was not", database);
    cleaned = false;
  }
  if (cleaned) return true;
  out_.error("Cleaning %s failed (%s); nothing was consolidated, %s.", database, detail,
             present({kWorking, kRefresh, kProduction}, "is kept", "are kept").c_str());
  return false;
}

// The consolidation must leave its database, or nothing of the old state may
// be given up: the gathered databases and the production database stay.
bool Seal::consolidate() {
  char line[kLineSize];
  compose_line(line, sizeof line, "storejoin.exe %s %s %s %s %s", args_.save_space, kJoined, kWorking,
               refresh_ ? kRefresh : "", kProduction);
  // A database left by an earlier run cut short must not pass for this run's.
  port::remove_file(kJoined);
  char detail[kDetailSize];
  bool joined = run_step({.line = line, .name = "storejoin.exe", .program = "storejoin.exe", .made = {kJoined}},
                         detail, sizeof detail);
  // Nothing joined from databases that hold something is a consolidation
  // that failed, whatever its status says.
  const long long inputs = size_of(kWorking) + (refresh_ ? size_of(kRefresh) : 0) + size_of(kProduction);
  if (joined && size_of(kJoined) == 0 && inputs > 0) {
    std::snprintf(detail, sizeof detail, "storejoin.exe left %s empty, from databases that are not", kJoined);
    joined = false;
  }
  if (joined) return true;
  port::remove_file(kJoined);
  out_.error("Consolidating the databases failed (%s); %s.", detail,
             present({kWorking, kRefresh, kProduction}, kAsItWas, kAsTheyWere).c_str());
  return false;
}

void Seal::recover_index() {
  const IndexAside left = index_aside_is();
  for (const AsideName& file : kIndexFiles) {
    port::FileInfo aside;
    if (port::entry_stat(file.aside, &aside) != 0) continue;
    if (left == IndexAside::kOfNoUse || !aside.is_regular) {
      if (give_up(file.aside) != 0) {
        out_.say("Cannot remove %s, left by an earlier run (errno=%d); it is passed over.", file.aside, errno);
      }
      continue;
    }
    port::make_writable(file.aside);
    if (put_in_place(file.aside, file.name) != 0) {
      out_.say("Cannot put %s left by an earlier run back in the place of %s (errno=%d); it is passed over.",
               file.aside, file.name, errno);
    }
  }
}

void Seal::keep_old_database(const char* why, bool index_made) {
  std::string lost_index;
  for (std::size_t i = 0; i < std::size(kIndexFiles); ++i) {
    const AsideName& file = kIndexFiles[i];
    if (index_made) give_up(file.name);
    // Only what this run moved aside is put back: an aside that an earlier
    // run left and that could not be removed is no copy of this index.
    if (moved_aside_[i] && port::replace_file(file.aside, file.name) != 0) {
      lost_index += std::string(", the old ") + file.name + " is kept as " + file.aside;
    }
  }
  // storeseal.gdbm tells the next run which index an aside file belongs to.
  if (lost_index.empty()) port::remove_file(kJoined);
  out_.error("%s; %s%s.", why, present({kProduction, kIndex, kMd5, kWorking, kRefresh}, kAsItWas, kAsTheyWere).c_str(),
             lost_index.c_str());
}

bool Seal::build_index() {
  for (std::size_t i = 0; i < std::size(kIndexFiles); ++i) {
    const AsideName& file = kIndexFiles[i];
    if (!port::exists(file.name)) continue;
    port::make_writable(file.name);
    if (port::replace_file(file.name, file.aside) == 0) {
      moved_aside_[i] = true;
      continue;
    }
    // A leftover in the aside's place (a directory, a file that cannot be
    // replaced) never refuses the run: the old index goes as it would
    // without an aside, and should this run fail, the next cycle's index
    // build makes one anew.
    const int error = errno;
    if (give_up(file.name) != 0) {
      char why[kDetailSize];
      std::snprintf(why, sizeof why, "Cannot move %s aside to %s (errno=%d), nor remove it (errno=%d)", file.name,
                    file.aside, error, errno);
      keep_old_database(why, false);
      return false;
    }
    out_.say("Cannot move %s aside to %s (errno=%d); it is removed instead.", file.name, file.aside, error);
  }
  char line[kLineSize];
  char detail[kDetailSize];
  compose_line(line, sizeof line, "keybuild.exe %s %s %s", kJoined, kIndex, kMd5);
  if (!run_step({.line = line, .name = "keybuild.exe", .program = "keybuild.exe", .made = {kIndex, kMd5},
                 .source = kJoined},
                detail, sizeof detail)) {
    std::string why = std::string("Building the index failed (") + detail + ")";
    keep_old_database(why.c_str(), true);
    return false;
  }
  // The new index must be on the disk before the database it belongs to
  // takes the production database's place: after that the old index aside
  // is of no use and goes.
  for (const AsideName& file : kIndexFiles) {
    if (port::flush_file(file.name) != 0) {
      char why[kDetailSize];
      std::snprintf(why, sizeof why, "Cannot flush %s to the disk (errno=%d)", file.name, errno);
      keep_old_database(why, true);
      return false;
    }
  }
  return replace_production();
}

// The new database takes the production database's name in one step, and
// only then are the old index and the gathered databases given up: at no
// moment is there no production database, nor data that is in none of the
// files.
bool Seal::replace_production() {
  if (put_in_place(kJoined, kProduction) != 0) {
    char why[kDetailSize];
    std::snprintf(why, sizeof why, "Cannot put %s in the place of %s (errno=%d)", kJoined, kProduction, errno);
    keep_old_database(why, true);
    return false;
  }
  // The new name must survive a power loss before the gathered databases
  // go: else the old database could come back without them.
  if (port::flush_directory(".") != 0) {
    out_.error("Cannot flush the data directory to the disk (errno=%d); %s is the new database, %s.", errno,
               kProduction, present({kWorking, kRefresh}, "is kept", "are kept").c_str());
    fail(Outcome::kReplace);
    return true;
  }
  for (std::size_t i = 0; i < std::size(kIndexFiles); ++i) {
    const AsideName& file = kIndexFiles[i];
    // Of no use from now on; a later run removes one left behind. A
    // leftover this run did not move there was dealt with at its start.
    if (moved_aside_[i] && give_up(file.aside) != 0) {
      out_.say("Cannot remove %s, the index of the previous database (errno=%d); the next run removes it.",
               file.aside, errno);
    }
  }
  // The database is in place whatever becomes of the gathered ones: the
  // steps after this one describe it, and the run ends in failure after
  // them when one would be joined again.
  if (!remove_gathered()) fail(Outcome::kGathered);
  // The names removed and changed survive a power loss.
  if (port::flush_directory(".") != 0) {
    out_.error("Cannot flush the data directory to the disk (errno=%d); the gathered databases may come back.",
               errno);
    fail(Outcome::kGathered);
  }
  return true;
}

bool Seal::remove_gathered() {
  bool removed = true;
  for (const AsideName& file : kGatheredFiles) {
    if ((file.name == kRefresh && !refresh_) || give_up(file.name) == 0) continue;
    const int error = errno;
    // Under a name no run joins, it cannot bring back templates that this
    // cycle's expiry removed.
    give_up(file.aside);
    if (port::rename_file(file.name, file.aside) == 0) {
      out_.say("Cannot remove %s (errno=%d); it is kept as %s, which no run joins.", file.name, error, file.aside);
      continue;
    }
    out_.error("Cannot remove %s (errno=%d), nor rename it to %s (errno=%d); the next run would join it again.",
               file.name, error, file.aside, errno);
    removed = false;
  }
  return removed;
}

// packdump's status says nothing of the file (it ends with 0 also when it
// makes no dump, and may fail after making one): the dump is judged by the
// file alone, and the statistics then tell whether it can be read.
bool Seal::rebuild_dump() {
  port::FileIdentity before;
  const bool had = port::file_identity(kDump, &before) == 0;
  char detail[kDetailSize];
  const bool ran = run_step(
      {.line = "packdump.exe", .name = "packdump.exe", .program = "packdump.exe", .status_tells = false}, detail,
      sizeof detail);
  port::FileIdentity after;
  const bool has = port::file_identity(kDump, &after) == 0;
  dump_is_new_ = ran && has && !(had && before == after);
  if (dump_is_new_) return true;
  if (ran) std::snprintf(detail, sizeof detail, has ? "packdump.exe left %s as it was" : "packdump.exe left no %s", kDump);
  out_.error("The dump was not rebuilt (%s); %s, and the statistics are made from %s.", detail,
             has ? "the export daemon serves the dump of the previous database" : "the export daemon has no dump",
             kProduction);
  return false;
}

bool Seal::count() {
  if (!statistics_.write(dump_is_new_, &out_)) return false;
  if (statistics_.dump_unreadable()) fail(Outcome::kDump);
  return !out_.product_mode() || statistics_.render(&out_);
}

void Seal::keep_record() {
  RecordWriter record("storeseal");
  record.add_number("status", status_of(outcome_));
  record.add("failed", failed_word(outcome_));
  if (!out_.first_error().empty()) record.add_text("line", out_.first_error());
  record.add("production", identity_value(kProduction));
  record.add("dump", identity_value(kDump));
  const char* dump_state = !port::exists(kDump)              ? "none"
                           : !dump_is_new_                   ? "old"
                           : statistics_.dump_unreadable()   ? "new-unreadable"
                                                             : "new";
  record.add("dump-state", dump_state);
  if (record.write(kStoresealRecord) != 0) {
    out_.error("Cannot keep the record of this run in %s (errno=%d).", kStoresealRecord, errno);
  }
}

int Seal::run() {
  if (!enter_directory()) return 1;
  out_.progress("Using given directory: %s", args_.directory);
  // A refusal before anything is changed leaves its record too, but only
  // while no other run is at work here.
  if (!gathered_databases_readable()) {
    fail(Outcome::kNoDatabase);
  } else if (!statistics_.compose(args_.gatherer_id, &out_)) {
    fail(Outcome::kUsage);
  }
  if (!take_lock()) return 1;
  if (outcome_ != Outcome::kReady) {
    keep_record();
    return status_of(outcome_);
  }
  for (const SealStep& step : kSteps) {
    out_.progress("%s", step.progress);
    if (&step == &kSteps[0]) {
      // The log is opened once the run is sure to change something; it
      // gets the lines told before as well.
      out_.open_log();
      out_.log_only("Using given directory: %s", args_.directory);
      out_.log_only("%s", step.progress);
    }
    if ((this->*step.work)()) continue;
    fail(step.failure);
    if (ends_run(step.failure)) break;
  }
  if (outcome_ == Outcome::kReady) out_.progress("Databases ready for export.");
  keep_record();
  return status_of(outcome_);
}

}  // namespace

int run_seal(const SealArguments& arguments) {
  Seal seal(arguments);
  return seal.run();
}
