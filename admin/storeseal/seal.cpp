#include "admin/storeseal/seal.h"

#include <cerrno>
#include <cstdio>

#include "admin/common/command_line.h"
#include "admin/common/exec_cmd.h"
#include "admin/common/registry_settings.h"
#include "admin/common/tool_word.h"
#include "admin/storeseal/output.h"
#include "port/file.h"

namespace {

constexpr char kWorking[] = "WORKING.gdbm";
constexpr char kRefresh[] = "REFRESH.gdbm";
constexpr char kProduction[] = "PRODUCTION.gdbm";
constexpr char kJoined[] = "storeseal.gdbm";
constexpr char kIndex[] = "INDEX.gdbm";
constexpr char kMd5[] = "MD5.gdbm";
// Every command line fits in this buffer with its terminating zero.
constexpr int kLineSize = 780;

class Seal {
 public:
  explicit Seal(const SealArguments& arguments) : args_(arguments) {}
  int run();

 private:
  // The lines that carry the gatherer ID and the tool paths, composed before
  // anything is touched; false after a message.
  bool compose_statistics_lines();
  bool consolidate();
  void build_index();
  bool replace_production();
  void write_statistics();

  // Runs "storetidy.exe DATABASE" on a database made writable first.
  void tidy(const char* database);

  const SealArguments& args_;
  SealOutput out_;
  char probe_[kLineSize] = {};
  char from_dump_[kLineSize] = {};
  char from_database_[kLineSize] = {};
};

bool Seal::compose_statistics_lines() {
  char perl[kLineSize];
  char gzip[kLineSize];
  char id[kLineSize];
  char body[kLineSize];
  const int perl_word = tool_word(TOOL_PERL, "perl", perl, sizeof perl);
  const int gzip_word = tool_word(TOOL_GZIP, "gzip", gzip, sizeof gzip);
  if (path_refusal(perl_word) != nullptr || path_refusal(gzip_word) != nullptr) {
    const bool perl_refused = path_refusal(perl_word) != nullptr;
    out_.error("The %s path %s; no command line can carry it.", perl_refused ? "Perl" : "gzip",
               path_refusal(perl_refused ? perl_word : gzip_word));
    return false;
  }
  const int id_word = quote_argument(args_.gatherer_id, id, sizeof id);
  if (path_refusal(id_word) != nullptr) {
    out_.error("The gatherer ID %s; no command line can carry it.", path_refusal(id_word));
    return false;
  }
  const bool fits =
      perl_word == 0 && gzip_word == 0 && id_word == 0 &&
      compose_line(body, sizeof body, "%s -V > \\nul 2> \\nul", gzip) &&
      compose_shell_line(probe_, sizeof probe_, body) &&
      compose_line(body, sizeof body, "%s -d < All-Templates.gz | %s -S crawlstats.pl %s > INFO.soif", gzip, perl,
                   id) &&
      compose_shell_line(from_dump_, sizeof from_dump_, body) &&
      compose_line(from_database_, sizeof from_database_,
                   "cmd.exe /C dbmtool print -exportd %s | %s -S crawlstats.pl %s > INFO.soif", kProduction, perl, id);
  if (!fits) {
    out_.error("The gatherer ID and the Perl and gzip paths make a command line longer than %d bytes.",
               kLineSize - 1);
  }
  return fits;
}

void Seal::tidy(const char* database) {
  char line[kLineSize];
  port::make_writable(database);
  if (compose_line(line, sizeof line, "storetidy.exe %s", database)) exec_cmd_in_order(line);
}

// The consolidation must leave its database, or nothing of the old state may
// be given up: the gathered databases and the production database stay.
bool Seal::consolidate() {
  const bool refresh = port::is_readable(kRefresh);
  char line[kLineSize];
  compose_line(line, sizeof line, "storejoin.exe %s %s %s %s %s", args_.save_space, kJoined, kWorking,
               refresh ? kRefresh : "", kProduction);
  // A database left by an earlier run cut short must not pass for this run's.
  port::remove_file(kJoined);
  const int status = exec_cmd_in_order(line);
  port::FileInfo made;
  const bool has_database = port::file_stat(kJoined, &made) == 0 && made.is_regular;
  if (status == 0 && has_database) return true;
  port::remove_file(kJoined);
  char detail[64];
  if (status == -1) {
    std::snprintf(detail, sizeof detail, "storejoin.exe could not be started");
  } else if (status != 0) {
    std::snprintf(detail, sizeof detail, "storejoin.exe returned %d", status);
  } else {
    std::snprintf(detail, sizeof detail, "storejoin.exe left no file %s", kJoined);
  }
  out_.error("Consolidating the databases failed (%s); %s, %s and %s are left as they were.", detail, kWorking,
             kRefresh, kProduction);
  return false;
}

void Seal::build_index() {
  port::remove_file(kIndex);
  port::remove_file(kMd5);
  char line[kLineSize];
  if (compose_line(line, sizeof line, "keybuild.exe %s %s %s", kJoined, kIndex, kMd5)) exec_cmd_in_order(line);
}

// The new database takes the production database's name in one step, and
// only then are the gathered databases given up: at no moment is there no
// production database, nor data that is in none of the files.
bool Seal::replace_production() {
  if (port::exists(kProduction)) port::make_writable(kProduction);
  if (port::replace_file(kJoined, kProduction) != 0) {
    const int error = errno;
    out_.error("Cannot put %s in the place of %s (errno=%d); %s and %s are kept.", kJoined, kProduction, error,
               kWorking, kRefresh);
    return false;
  }
  // A gathered database left behind would be joined again by the next run.
  for (const char* gathered : {kWorking, kRefresh}) {
    if (port::remove_file(gathered) != 0 && errno != ENOENT) {
      out_.error("Cannot remove %s (errno=%d).", gathered, errno);
    }
  }
  return true;
}

void Seal::write_statistics() {
  exec_cmd_in_order(exec_cmd_in_order(probe_) == 0 ? from_dump_ : from_database_);
  if (out_.product_mode()) exec_cmd_in_order("cmd.exe /C ridOrizIdor < INFO.soif > INFO_J.txt 2>&1");
}

int Seal::run() {
  if (ends_in_half_character(args_.directory)) {
    std::fprintf(stderr, "storeseal: %s: ERROR: The directory %s %s.\n", time_stamp(), args_.directory,
                 path_refusal(kPathHalfCharacter));
    return 1;
  }
  port::FileInfo info;
  if (port::file_stat(args_.directory, &info) != 0 || !info.is_directory) {
    std::fprintf(stderr, "storeseal: %s: %s is not a directory\n", time_stamp(), args_.directory);
    return 1;
  }
  port::change_dir(args_.directory);
  out_.progress("Using given directory: %s", args_.directory);
  if (!port::is_readable(kWorking)) {
    std::fprintf(stderr, "storeseal: %s: ERROR: %s is not present in the current directory.\n", time_stamp(),
                 kWorking);
    std::fprintf(stderr, "storeseal: %s: Perhaps your Gatherer did not generate a database.\n", time_stamp());
    return 1;
  }
  // A line that cannot be composed is refused before anything is touched.
  if (!compose_statistics_lines()) return 1;
  out_.progress("Cleaning up the gathered templates...");
  out_.open_log();
  out_.log_only("Using given directory: %s", args_.directory);
  out_.log_only("Cleaning up the gathered templates...");

  tidy(kWorking);
  if (port::is_readable(kRefresh)) tidy(kRefresh);

  out_.progress("Consolidating databases...");
  if (!consolidate()) return 1;

  out_.progress("Building an index for the Gatherer...");
  build_index();
  if (!replace_production()) return 1;

  out_.progress("Building the exportd cache...");
  exec_cmd_in_order("packdump.exe");

  out_.progress("Generating statistics of the database...");
  write_statistics();

  out_.progress("Databases ready for export.");
  return 0;
}

}  // namespace

int run_seal(const SealArguments& arguments) {
  Seal seal(arguments);
  return seal.run();
}
