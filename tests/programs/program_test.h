#pragma once
// The base of every program fixture: the test's temporary folder with the
// installation in it, a program run the way the fixtures run them (the
// recording double's journal in the folder, line ends folded), the journal
// read back, and the patterns of the lines the programs write.
#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "tests/programs/harness.h"

namespace lxt {

// The local time stamp of every line ("YYYYMMDD HH:MM:SS"), as a pattern.
inline constexpr char kStampPattern[] = "[0-9]{8} [0-9]{2}:[0-9]{2}:[0-9]{2}";
// "PROGRAM: STAMP: " of an administration program's line, as a pattern.
inline std::string diagnostic_prefix(const std::string& program) { return program + ": " + kStampPattern + ": "; }
inline bool matches(const std::string& text, const std::string& pattern) {
  return std::regex_search(text, std::regex(pattern));
}
// Text as a pattern matching it literally.
inline std::string literal(const std::string& text) {
  return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

class ProgramTest : public ::testing::Test {
 protected:
  // kNone: the fixture's runs start no recording double (the demo's stand-ins,
  // the --help table), so they get no journal's environment either.
  enum class Journal { kKept, kNone };
  // root: the folder of the test folder that holds the installation ("": the
  // test folder). A fixture that installs elsewhere, or not at all, leaves
  // install_ alone: it writes nothing until asked.
  explicit ProgramTest(const std::string& root = "", Journal journal = Journal::kKept)
      : install_(dir_, root), journal_(journal) {}

  // The options of every start in the fixture (a Background's too): the
  // journal's environment (recording the variables of env_names) before the
  // start's own changes, and options.cwd or else the test folder.
  RunOptions in_test(RunOptions options = {}, const std::string& env_names = "") const {
    if (journal_ == Journal::kKept) {
      const std::vector<EnvChange> journal = journal_env(journal_path(), env_names);
      options.env.insert(options.env.begin(), journal.begin(), journal.end());
    }
    if (options.cwd.empty()) options.cwd = dir_.path();
    return options;
  }
  // Runs argv (a program's or a double's path, then its arguments) with
  // in_test() options, carriage returns before line feeds dropped from both streams.
  RunResult run_argv(const std::vector<std::string>& argv, RunOptions options = {},
                     const std::string& env_names = "") const {
    return run_text(argv, in_test(std::move(options), env_names));
  }
  // run_argv() of the system's program, or of a test double, with these arguments.
  RunResult run_program(const std::string& name, const std::vector<std::string>& args, RunOptions options = {},
                        const std::string& env_names = "") const {
    return run_argv(with_args(program(name), args), std::move(options), env_names);
  }
  RunResult run_double(const std::string& name, const std::vector<std::string>& args, RunOptions options = {},
                       const std::string& env_names = "") const {
    return run_argv(with_args(double_path(name), args), std::move(options), env_names);
  }
  static std::vector<std::string> with_args(const std::string& path, const std::vector<std::string>& args) {
    std::vector<std::string> argv{path};
    argv.insert(argv.end(), args.begin(), args.end());
    return argv;
  }
  std::string journal_path() const { return dir_.file("journal"); }
  std::vector<Record> journal() const { return read_journal(journal_path()); }
  // The names the recorded starts ran as, in the order they were written.
  std::vector<std::string> programs() const { return journal_programs(journal_path()); }

  // A process of its own that holds a file open for writing until release();
  // extra options of lxrecord may make it hold it otherwise.
  // As the daemon, it runs as exportd, the daemon's program.
  std::unique_ptr<Background> hold(const std::string& file, const std::string& pid_file = "",
                                        RunOptions o = {}, bool as_daemon = false) const {
    o.set("LXT_HOLD", dir_.host(file)).set("LXT_UNTIL", dir_.host("release"));
    o.set("LXT_JOURNAL", dir_.host("holder.journal"));
    if (!pid_file.empty()) o.set("LXT_PIDFILE", dir_.host(pid_file));
    std::string program = double_path("lxrecord");
    if (as_daemon) {
      // Once: an earlier holder may still be running from the copy.
      program = dir_.file("daemon/" + exe_name("exportd"));
      if (!dir_.exists("daemon")) {
        dir_.mkdir("daemon");
        install_double("lxrecord", dir_.file("daemon"), "exportd");
      }
    }
    auto holder = std::make_unique<Background>(std::vector<std::string>{program}, o);
    EXPECT_TRUE(wait_until([&] { return dir_.exists("holder.journal"); }, std::chrono::milliseconds(60000)));
    if (!pid_file.empty()) {
      EXPECT_TRUE(wait_for_file(dir_.file(pid_file)));
    }
    return holder;
  }
  void release() const { dir_.write("release", ""); }

  TempDir dir_;
  Installation install_;
  Journal journal_;
};

}  // namespace lxt
