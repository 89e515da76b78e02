#pragma once
// A layout of gatherers as the service's commands find them: a settings
// file per gatherer in a layout folder, the framework's home with the
// recording double as its Perl, a gatherer directory with its .cf, a data
// directory and an installation; and the records the programs leave.
#include <string>
#include <vector>

#include "tests/programs/program_test.h"

namespace lxt {

// A record as the system's programs write one.
inline std::string record(const std::string& program, const std::string& keys, const std::string& cycle = "-") {
  return "version=1\nprogram=" + program + "\ncycle=" + cycle + "\n" + keys;
}

// The cycle command's record of a cycle that ended with the status.
inline std::string last_cycle_record(int status, const std::string& what, const std::string& more = "") {
  return record("lorvex-cycle", "began=20261209 18:00:00\nbegan-at=1765300000\nended=20261209 18:10:00\nstatus=" +
                                    std::to_string(status) + "\nlevel=" + (status == 0 ? "information" : "error") +
                                    "\nwhat=" + what + "\n" + more);
}

class Gatherers : public ProgramTest {
 protected:
  void SetUp() override {
    for (const char* d : {"home", "home/bin", "home/gatherers", "home/gatherers/g1", "data", "layout", "inst"}) {
      dir_.mkdir(d);
    }
    install_double("lxrecord", dir_.file("home/bin"), "perl");
    dir_.write("layout/g1.ini", "KESTREL_HOME=" + dir_.file("home") + "\nGATHERER_NAME=g1\nGATHERER_DATA=" +
                                    dir_.file("data") + "\nGATHERER_PORT=8500\n");
    dir_.write(gdir("g1.cf"), "Gatherer-Name: g1\nData-Directory: " + dir_.file("data") + "\nURL: file:a.html\n");
    ASSERT_TRUE(install_.write_registry(RegistryKeys{.path00 = dir_.file("inst"), .env_info = ""}));
  }

  std::string gdir(const std::string& name = "") const { return "home/gatherers/g1" + (name.empty() ? "" : "/" + name); }

  RunResult run(const std::string& program, const std::vector<std::string>& args, RunOptions o = {}) const {
    o.cwd = dir_.path();
    o.set("LORVEX_EVENTLOG", dir_.file("events")).set("LORVEX_GATHERERS", dir_.file("layout"));
    return run_program(program, args, o);
  }
};

}  // namespace lxt
