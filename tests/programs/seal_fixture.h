#pragma once
// The database finishing's test layout: a data directory, the framework's
// tools as recording doubles, and the progress lines storeseal writes.
#include <algorithm>
#include <string>
#include <vector>

#include "tests/programs/program_test.h"

namespace lxt {

// The framework's tools the finishing runs, as recording doubles.
inline const std::vector<std::string> kDoubles{"storetidy", "storejoin", "keybuild", "dbmtool", "gzip", "perl", "ridOrizIdor"};


inline const std::string kStamp = kStampPattern;

inline bool contains(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// The progress lines' texts, those of the cache when it is made.
inline std::vector<std::string> progress_texts(bool with_cache) {
  std::vector<std::string> texts{"Cleaning up the gathered templates...", "Consolidating databases...",
                                 "Building an index for the Gatherer..."};
  if (with_cache) {
    texts.insert(texts.end(), {"Building the exportd cache...", "Generating statistics of the database...",
                               "Databases ready for export."});
  }
  return texts;
}

// The progress lines on standard output for the directory, as many as ran.
inline std::string progress_out(const std::string& dir, bool whole = true) {
  std::string out = "storeseal: Using given directory: " + dir + "\n";
  for (const std::string& text : progress_texts(whole)) out += "storeseal: " + text + "\n";
  return out;
}

// A data directory and an installation whose tools are recording doubles.
class Seal : public ProgramTest {
 protected:
  void SetUp() override {
    dir_.mkdir("data");
    install_.install_tools(kDoubles);
    // No tool paths configured: the plain names.
    ASSERT_TRUE(install_.write_registry(RegistryKeys{.path00 = std::nullopt, .env_info = env_info_}));
  }

  void gathered(bool with_refresh) {
    dir_.write("data/WORKING.gdbm", "working\n");
    if (with_refresh) dir_.write("data/REFRESH.gdbm", "refresh\n");
    dir_.write("data/PRODUCTION.gdbm", "production\n");
    dir_.write("data/INDEX.gdbm", "index\n");
    dir_.write("data/MD5.gdbm", "md5\n");
    dir_.write("data/All-Templates.gz", "old dump\n");
    dir_.write("data/INFO.soif", "old info\n");
  }

  // Runs storeseal with the doubles: storejoin makes its database.
  // runner: a program that storeseal runs under (its words before storeseal's path).
  RunResult storeseal(const std::vector<std::string>& args, RunOptions options = {},
                      std::vector<std::string> runner = {}) const {
    std::vector<EnvChange> env{{"LXT_LIST", "cwd"}};
    env.push_back({"LXT_STOREJOIN_CREATE", "storeseal.gdbm"});
    // The templates, the dump, the statistics and their rendering are never empty.
    env.push_back({"LXT_DBMTOOL_PRINT", "templates"});
    env.push_back({"LXT_GZIP_PRINT", "compressed"});
    env.push_back({"LXT_PERL_PRINT", "new info"});
    env.push_back({"LXT_RIDORIZIDOR_PRINT", "rendered"});
    env.push_back({"LXT_KEYBUILD_CREATE", "INDEX.gdbm,MD5.gdbm"});
    env.push_back({"LXG_STARTMODE", std::nullopt});
    env.push_back({"KESTREL_GATHERER_LOGFILE", std::nullopt});
    options.env.insert(options.env.begin(), env.begin(), env.end());
    options.search_dirs.push_back(install_.tools_dir());
    options.cwd = dir_.path();
    std::vector<std::string> argv = std::move(runner);
    argv.push_back(program("storeseal"));
    argv.insert(argv.end(), args.begin(), args.end());
    return run_argv(argv, options);
  }

  std::vector<Record> runs_of(const std::string& program) const {
    std::vector<Record> found;
    for (const Record& record : journal()) {
      if (record.program == program) found.push_back(record);
    }
    return found;
  }

  std::string data() const { return dir_.host("data"); }

  std::string env_info_;
};

}  // namespace lxt
