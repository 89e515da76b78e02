#pragma once
// The POSIX command interpreter's test fixture.
#include <sys/stat.h>

#include <chrono>
#include <string>

#include "tests/programs/program_test.h"

namespace lxt {

// Our interpreter, run natively as the programs run it: "cmd /C LINE".
class Cmd : public ProgramTest {
 protected:
  void SetUp() override {
    if (is_wine()) {
      GTEST_SKIP() << "cmd is the POSIX build's interpreter; Windows has its own";
    }
  }

  RunOptions options() const {
    RunOptions opts;
    opts.cwd = dir_.path();
    opts.search_dirs = {testbin_dir()};
    opts.timeout = std::chrono::milliseconds(60000);
    return opts;
  }

  RunResult line(const std::string& text) const { return line(text, options()); }
  // "rmdir /S /Q tree" in a mount namespace of its own where other/ is bound
  // on tree/sub; status 97 when the mount cannot be made.
  RunResult line_in_mount_namespace(const RunOptions& opts) const {
    return run({"/usr/bin/unshare", "-m", "/bin/sh", "-c",
                     "mount --make-rprivate / 2>/dev/null; mount --bind \"$1\" \"$2\" || exit 97; "
                     "exec \"$3\" /C \"rmdir /S /Q tree\"",
                     "sh", dir_.file("other"), dir_.file("tree/sub"), program("cmd")},
                    opts);
  }
  RunResult line(const std::string& text, const RunOptions& opts) const {
    RunResult result = run({program("cmd"), "/C", text}, opts);
    EXPECT_FALSE(result.timed_out) << text;
    return result;
  }

  // Options under which lxrecord keeps its journal in the test directory.
  RunOptions recording(const std::string& stdin_mode = "") const {
    RunOptions opts = options();
    opts.env = journal_env(journal_path());
    if (!stdin_mode.empty()) opts.set("LXT_STDIN", stdin_mode);
    return opts;
  }

  bool read_only(const std::string& name) const {
    return ::chmod(dir_.file(name).c_str(), 0444) == 0;
  }
};

}  // namespace lxt
