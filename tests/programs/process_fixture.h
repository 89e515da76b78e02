#pragma once
// The gatherer installation the process-control programs are tested in:
// home/ (KESTREL_HOME) with its gatherer g1, a data directory and the
// registry, with what the tests of the launcher, the daemon's starter and
// its stopper say of processes and lines.
#include <string>
#include <vector>

#include "tests/programs/program_test.h"

namespace lxt {

// The stamp of a line and the blank after its colon, as a pattern.
inline const std::string kStamp = std::string(lxt::kStampPattern) + ": ";

// The last line of a text, without its line end.
inline std::string last_line(const std::string& text) {
  std::string t = lxt::lf(text);
  if (!t.empty() && t.back() == '\n') t.pop_back();
  const std::size_t at = t.rfind('\n');
  return at == std::string::npos ? t : t.substr(at + 1);
}

// How the process-control programs say, after the file's name, that a
// settings file was saved as Unicode (a pattern).
inline std::string unicode_refusal(const std::string& encoding) {
  return "\\(It is saved as " + encoding + " with a byte-order mark; save it as ANSI \\(Shift_JIS\\)\\.\\)";
}

// Exit statuses as a caller of the program sees them (the low eight bits).
inline int status_of(int negative) { return negative & 0xFF; }

inline bool process_alive(long pid) {
  const std::string stat = lxt::read_file("/proc/" + std::to_string(pid) + "/stat");
  // A zombie has ended; it only waits for its parent.
  return !stat.empty() && !matches(stat, R"(^[0-9]+ \(.*\) Z )");
}

// A gatherer installation: home/ (KESTREL_HOME) with its gatherer g1, a data
// directory, and the registry without a Perl path unless a test sets one.
class Process : public ProgramTest {
 protected:
  void SetUp() override {
    for (const char* d : {"home", "home/bin", "home/lib", "home/lib/gatherer", "home/gatherers",
                          "home/gatherers/g1", "data"}) {
      dir_.mkdir(d);
    }
    registry("");
  }

  void registry(const std::string& env_info) {
    ASSERT_TRUE(install_.write_registry(lxt::RegistryKeys{.path00 = std::nullopt, .env_info = env_info}));
  }

  std::string home() const { return dir_.host("home"); }
  std::string gdir() const { return "home/gatherers/g1"; }
  std::string settings(const std::string& text) const {
    dir_.write("settings.ini", text);
    return dir_.host("settings.ini");
  }
  std::string base() const {
    return "KESTREL_HOME=" + home() + "\nGATHERER_NAME=g1\nGATHERER_DATA=" + dir_.host("data") +
           "\nGATHERER_PORT=8500\n";
  }
  // The framework's directory as it appears in a search path the programs built.
  std::string entry(const std::string& under_home) const {
    return lxt::is_wine() ? home() + "\\" + lxt::backslashed(under_home) : dir_.file("home/" + under_home);
  }
  std::string path_sep() const { return lxt::is_wine() ? ";" : ":"; }

  RunResult run(const std::string& name, const std::vector<std::string>& args, lxt::RunOptions options = {},
                const std::string& env_names = "") const {
    return run_program(name, args, std::move(options), env_names);
  }
};

}  // namespace lxt
