#include "admin/storeseal/seal.h"

#include <cerrno>
#include <cstdio>
#include <initializer_list>
#include <string>

#include "admin/common/command_line.h"
#include "admin/common/data_files.h"
#include "admin/common/step.h"
#include "admin/storeseal/output.h"
#include "admin/storeseal/statistics.h"
#include "port/file.h"
#include "port/file_lock.h"
#include "port/text.h"

namespace {

constexpr char kJoined[] = "storeseal.gdbm";
constexpr char kLock[] = "storeseal.lock";
// The index of the production database waits under these names while the
// new one is built, and comes back when the new database does not take the
// production database's place.
struct AsideName {
  const char* name;
  const char* aside;
};
constexpr AsideName kIndexFiles[] = {{kIndex, "INDEX.gdbm.old"}, {kMd5, "MD5.gdbm.old"}};
// Every command line fits in this buffer with its terminating zero.
constexpr int kLineSize = 780;
constexpr int kDetailSize = 128;

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

constexpr char kAsItWas[] = "is left as it was";
constexpr char kAsTheyWere[] = "are left as they were";

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
  // Runs "storetidy.exe DATABASE" on a database made writable first.
  bool tidy(const char* database);
  bool consolidate();
  // Puts back an index that a run cut short left aside.
  bool recover_index();
  bool build_index();
  bool replace_production();
  // Puts the old index back in the place of what the index step made (when
  // it ran) and says why the new database was not taken.
  void keep_old_database(const char* why, bool index_made);

  const SealArguments& args_;
  SealOutput out_;
  StatisticsLines statistics_;
  // REFRESH.gdbm was there when the run began: it is cleaned, consolidated
  // and removed; one that turns up later is left alone.
  bool refresh_ = false;
  // Kept by the children too, so that a run killed while its children work
  // still keeps the next one out.
  port::FileLock lock_;
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
  switch (lock_.take(kLock)) {
    case port::FileLock::Result::kTaken:
      return true;
    case port::FileLock::Result::kHeld:
      out_.error("Another storeseal is at work in this directory (%s is locked); nothing was changed.", kLock);
      return false;
    case port::FileLock::Result::kFailed:
      out_.error("Cannot take the lock %s (errno=%d); nothing was changed.", kLock, errno);
      return false;
  }
  return false;
}

bool Seal::tidy(const char* database) {
  char line[kLineSize];
  char detail[kDetailSize];
  port::make_writable(database);
  if (compose_line(line, sizeof line, "storetidy.exe %s", database) &&
      run_step(line, "storetidy.exe", {database}, detail, sizeof detail)) {
    return true;
  }
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
  if (run_step(line, "storejoin.exe", {kJoined}, detail, sizeof detail)) return true;
  port::remove_file(kJoined);
  out_.error("Consolidating the databases failed (%s); %s.", detail,
             present({kWorking, kRefresh, kProduction}, kAsItWas, kAsTheyWere).c_str());
  return false;
}

// Between moving the index aside and putting the new database in place,
// storeseal.gdbm is there: the index aside is then the production
// database's. Once storeseal.gdbm has become the production database, the
// index beside it is the new one and the one aside is of no use.
bool Seal::recover_index() {
  const bool replaced = !port::exists(kJoined);
  for (const AsideName& file : kIndexFiles) {
    if (!port::exists(file.aside)) continue;
    if (replaced ? port::remove_file(file.aside) != 0 : port::replace_file(file.aside, file.name) != 0) {
      out_.error("Cannot put %s left by an earlier run back in the place of %s (errno=%d); nothing was changed.",
                 file.aside, file.name, errno);
      return false;
    }
  }
  return true;
}

void Seal::keep_old_database(const char* why, bool index_made) {
  std::string lost_index;
  for (const AsideName& file : kIndexFiles) {
    if (index_made) port::remove_file(file.name);
    if (port::exists(file.aside) && port::replace_file(file.aside, file.name) != 0) {
      lost_index += std::string(", the old ") + file.name + " is kept as " + file.aside;
    }
  }
  // storeseal.gdbm tells the next run which index an aside file belongs to.
  if (lost_index.empty()) port::remove_file(kJoined);
  out_.error("%s; %s%s.", why, present({kProduction, kIndex, kMd5, kWorking, kRefresh}, kAsItWas, kAsTheyWere).c_str(),
             lost_index.c_str());
}

bool Seal::build_index() {
  for (const AsideName& file : kIndexFiles) {
    if (port::exists(file.name) && port::replace_file(file.name, file.aside) != 0) {
      char why[kDetailSize];
      std::snprintf(why, sizeof why, "Cannot move %s aside to %s (errno=%d)", file.name, file.aside, errno);
      keep_old_database(why, false);
      return false;
    }
  }
  char line[kLineSize];
  char detail[kDetailSize];
  compose_line(line, sizeof line, "keybuild.exe %s %s %s", kJoined, kIndex, kMd5);
  if (run_step(line, "keybuild.exe", {kIndex, kMd5}, detail, sizeof detail)) return true;
  std::string why = std::string("Building the index failed (") + detail + ")";
  keep_old_database(why.c_str(), true);
  return false;
}

// The new database takes the production database's name in one step, and
// only then are the old index and the gathered databases given up: at no
// moment is there no production database, nor data that is in none of the
// files.
bool Seal::replace_production() {
  if (port::exists(kProduction)) port::make_writable(kProduction);
  if (port::replace_file(kJoined, kProduction) != 0) {
    char why[kDetailSize];
    std::snprintf(why, sizeof why, "Cannot put %s in the place of %s (errno=%d)", kJoined, kProduction, errno);
    keep_old_database(why, true);
    return false;
  }
  for (const AsideName& file : kIndexFiles) port::remove_file(file.aside);
  // A gathered database left behind would be joined again by the next run.
  for (const char* gathered : {kWorking, refresh_ ? kRefresh : nullptr}) {
    if (gathered != nullptr && port::remove_file(gathered) != 0 && errno != ENOENT) {
      out_.error("Cannot remove %s (errno=%d).", gathered, errno);
    }
  }
  return true;
}

int Seal::run() {
  if (!enter_directory()) return 1;
  out_.progress("Using given directory: %s", args_.directory);
  if (!gathered_databases_readable()) return 1;
  // A line that cannot be composed is refused before anything is touched.
  if (!statistics_.compose(args_.gatherer_id, &out_)) return 1;
  if (!take_lock()) return 1;
  out_.progress("Cleaning up the gathered templates...");
  out_.open_log();
  out_.log_only("Using given directory: %s", args_.directory);
  out_.log_only("Cleaning up the gathered templates...");

  if (!recover_index() || !tidy(kWorking) || (refresh_ && !tidy(kRefresh))) return 1;

  out_.progress("Consolidating databases...");
  if (!consolidate()) return 1;

  out_.progress("Building an index for the Gatherer...");
  if (!build_index() || !replace_production()) return 1;

  // From here on the new database is in place; what follows describes it,
  // and a file that could not be made new is named and ends the run in failure.
  out_.progress("Building the exportd cache...");
  char detail[kDetailSize];
  const bool dumped = run_step("packdump.exe", "packdump.exe", {}, detail, sizeof detail);
  if (!dumped) {
    out_.error("The dump was not rebuilt (%s); %s %s, and the statistics are made from %s.", detail, kDump,
               port::exists(kDump) ? "still holds the dump of the previous database" : "is not there", kProduction);
  }

  out_.progress("Generating statistics of the database...");
  const bool counted = statistics_.write(dumped, out_.product_mode(), &out_);
  if (!dumped || !counted) return 1;

  out_.progress("Databases ready for export.");
  return 0;
}

}  // namespace

int run_seal(const SealArguments& arguments) {
  Seal seal(arguments);
  return seal.run();
}
