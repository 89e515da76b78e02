#pragma once
// The gathering cycle's test layout: a working and a data directory, the
// framework's tools as recording doubles, and the lines cyclerun writes.
#include <sys/stat.h>

#include <string>
#include <vector>

#include "tests/programs/program_test.h"

namespace lxt {

// The framework's tools the cycle runs, as recording doubles.
inline const std::vector<std::string> kTools{"linkprune", "agecull", "keybuild", "seedurls", "essence", "storeseal"};

// The URLs the seeding gives.
inline constexpr char kUrls[] = "http://www.example.jp/\nhttp://www.example.jp/a b.html\n";

// Whether the owner may write the file (the read-only attribute is off).
inline bool writable(const std::string& path) {
  struct stat info {};
  return ::stat(path.c_str(), &info) == 0 && (info.st_mode & S_IWUSR) != 0;
}

inline void make_read_only(const std::string& path) { ::chmod(path.c_str(), 0444); }


// The machine-readable comment line of a message page.
inline std::string comment(const std::string& id_and_args) { return "<!-- " + id_and_args + " -->\n"; }

// "cyclerun: <stamp>: " at the start of a line.
inline const std::string kPrefix = diagnostic_prefix("cyclerun");

class Cycle : public ProgramTest {
 protected:
  void SetUp() override {
    dir_.mkdir("data");
    dir_.mkdir("work");
    dir_.write("work/gatherinput", kUrls);
    install_.install_tools(kTools);
    install_.write_catalogue();
    registry(Peer::closed_port());
  }

  // The search service's command port (none: -1).
  void registry(int command_port, const std::string& extra_env_info = "") {
    ASSERT_TRUE(install_.write_registry((command_port >= 0 ? Installation::command_port(command_port) : "") +
                                        extra_env_info));
  }

  std::string data() const { return dir_.host("data"); }
  std::string work() const { return dir_.host("work"); }
  std::string in_work(const std::string& name) const { return "work/" + name; }

  // The settings lines every cycle needs, each ending in a line feed.
  std::string base_settings() const {
    return "Data-Directory=" + data() + "\n" + "Working-Directory=" + work() + "\n" +
           "Gatherer-Name=demo gatherer\n" + "linkprunecmd=linkprune.exe -v\n" +
           "agecullcmd=agecull.exe PRODUCTION.gdbm\n" + "keybuildcmd=keybuild.exe a b\n" +
           "seedcmd=seedurls.exe\n" + "essencecmd=essence.exe --max-deletions=100 x\n" +
           // By its path: the real storeseal beside cyclerun would be found first.
           "storesealcmd=" + install_.tool("storeseal") + " gid " + data() + "\n";
  }

  // Writes work/cyclerun.ini and returns its path as the program sees it.
  std::string settings(const std::string& text) const {
    dir_.write("work/cyclerun.ini", text);
    return dir_.host("work/cyclerun.ini");
  }

  RunResult cyclerun(const std::vector<std::string>& args, RunOptions options = {}) const {
    options.search_dirs.push_back(install_.tools_dir());
    options.cwd = dir_.path();
    return run_program("cyclerun", args, options, env_names_);
  }

  const Record* find(const std::string& program) const {
    journal_cache_ = journal();
    for (const auto& record : journal_cache_) {
      if (record.program == program) return &record;
    }
    return nullptr;
  }

  std::string env_names_;
  mutable std::vector<Record> journal_cache_;
};

}  // namespace lxt
