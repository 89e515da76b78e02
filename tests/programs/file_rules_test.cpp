// The rules every program keeps for what it is given by name: a path value
// that ends in half a character is refused before anything runs; a FIFO, a
// directory or nothing where a file is opened is "cannot be opened", never a
// wait; a link is never written through, nor has its target's mode changed.
// Each row runs one program on a gatherer laid out under in/; out/ stands
// for everything outside the program's directories and must never change.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <optional>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "tests/programs/program_test.h"

namespace {

namespace fs = std::filesystem;

// "収" in UTF-8: its last byte is a Shift_JIS lead byte without a second one.
const std::string kHalf = "\xE5\x8F\x8E";

class FileRules : public lxt::ProgramTest {
 protected:
  FileRules() : ProgramTest("in") {}

  void SetUp() override {
    for (const char* d : {"out", "in/data", "in/work", "in/home/gatherers/demo", "in/home/lib/gatherer"}) {
      dir_.mkdir(d);
    }
    install_.install_tools({"linkprune", "seedurls", "essence", "storetidy", "storejoin", "keybuild", "dbmtool",
                            "gzip", "perl", "ridOrizIdor", "vezURUduvev"});
    registry("");
  }

  void registry(const std::string& env_info) {
    const lxt::RegistryKeys keys{.path00 = install_.path(), .env_info = env_info};
    reg_text_ = lxt::registry_text(keys);
    ASSERT_TRUE(install_.write_registry(keys));
  }

  // The gatherer's files as each run finds them; `half` ends that key's value in half a character.
  void lay_out(const std::string& half = "") {
    const std::map<std::string, std::string> values = {
        {"Data-Directory", dir_.host("in/data")}, {"Working-Directory", dir_.host("in/work")},
        {"KESTREL_HOME", dir_.host("in/home")},   {"GATHERER_DATA", dir_.host("in/data")},
        {"GATHERER_NAME", "demo"}};
    auto line = [&](const std::string& key) { return key + "=" + values.at(key) + (key == half ? kHalf : "") + "\n"; };
    dir_.write("in/work/cyclerun.ini", line("Data-Directory") + line("Working-Directory") +
                                           "Gatherer-Name=demo\nlinkprunecmd=linkprune.exe\nseedcmd=seedurls.exe\n"
                                           "essencecmd=essence.exe\n");
    dir_.write("in/process.ini", line("KESTREL_HOME") + line("GATHERER_NAME") + line("GATHERER_DATA") +
                                     "GATHERER_PORT=8500\n");
    dir_.write("in/work/gatherinput", "http://www.example.jp/\n");
    dir_.write("in/home/gatherers/demo/Gatherer.pid", "0\n");
    install_.write_catalogue();
    for (const char* db : {"WORKING", "PRODUCTION"}) dir_.write("in/data/" + std::string(db) + ".gdbm", "db\n");
    dir_.write("in/data/All-Templates.gz", "dump\n");
    dir_.write("in/registry.reg", reg_text_);
    dir_.write("in/doc", ".TH A 1\n");
    fs::remove(dir_.file("out/target"));
    dir_.write("out/target", "outside\n");
    ::chmod(dir_.file("out/target").c_str(), 0444);
  }

  // Puts a FIFO, a link to out/target, a directory or nothing in the file's place.
  void replace(const std::string& file, const std::string& kind) const {
    fs::remove_all(dir_.file(file));
    if (kind == "fifo" && ::mkfifo(dir_.file(file).c_str(), 0666) != 0) ADD_FAILURE() << "no FIFO";
    if (kind == "link") fs::create_symlink(dir_.file("out/target"), dir_.file(file));
    if (kind == "dir") dir_.mkdir(file);
  }

  // Runs the program as a caller would, within a bound.
  lxt::RunResult run(const std::string& program, std::vector<lxt::EnvChange> env = {}) const {
    const std::map<std::string, std::vector<std::string>> args = {
        {"cyclerun", {dir_.host("in/work/cyclerun.ini")}}, {"LaunchCrawler", {dir_.host("in/process.ini")}},
        {"LaunchServer", {dir_.host("in/process.ini")}},   {"StopServer", {dir_.host("in/process.ini"), "FORCED"}},
        {"storeseal", {"gid", dir_.host("in/data")}},      {"packdump", {}},
        {"skim", {dir_.host("in/doc")}},                   {"cmd", {"/C", "type nul < in\\f > in\\g"}},
        {"pdfsift", {dir_.host("in/doc")}}};
    lxt::RunOptions options;
    options.env = std::move(env);
    options.set("LXT_STOREJOIN_CREATE", "storeseal.gdbm").set("LXT_KEYBUILD_CREATE", "INDEX.gdbm,MD5.gdbm");
    options.set("LXT_GZIP_PRINT", "compressed").set("LXT_PERL_PRINT", "info").set("LXT_RIDORIZIDOR_PRINT", "rendered");
    options.set("LXT_DBMTOOL_PRINT", "templates");
    options.set("LXG_STARTMODE", "LX");
    options.set("KESTREL_GATHERER_LOGFILE", dir_.host("in/data/log"));
    options.search_dirs.push_back(install_.tools_dir());
    options.cwd = program == "packdump" ? dir_.file("in/data") : dir_.path();
    options.timeout = std::chrono::milliseconds(30000);
    lxt::RunResult result = run_program(program, args.at(program), options);
    EXPECT_FALSE(result.timed_out) << program << " waited";
    return result;
  }

  // Every entry under the directory: name, kind, mode, size and time of the
  // last change; a refused run's own record of its refusal aside.
  std::string snapshot(const std::string& under) const {
    std::set<std::string> lines;
    for (const auto& entry : fs::recursive_directory_iterator(dir_.file(under))) {
      if (entry.path().extension() == ".outcome") continue;
      const fs::file_status status = entry.symlink_status();
      const bool regular = status.type() == fs::file_type::regular;
      lines.insert(entry.path().string() + " " + std::to_string(static_cast<int>(status.type())) + " " +
                   std::to_string(static_cast<int>(status.permissions())) + " " +
                   std::to_string(regular ? entry.file_size() : 0) + " " +
                   std::to_string(regular ? entry.last_write_time().time_since_epoch().count() : 0));
    }
    return ::testing::PrintToString(lines);
  }

  std::string reg_text_;
};

TEST_F(FileRules, APathValueEndingInHalfACharacterIsRefusedBeforeAnythingRuns) {
  const struct {
    const char* program;
    const char* half;      // the settings key, registry value or argument
    int status;
    const char* said;
  } rows[] = {
      {"cyclerun", "Working-Directory", 0, "is invalid.  \\(Working-Directory ends in half a double-byte character"},
      {"cyclerun", "Data-Directory", 0, "is invalid.  \\(Data-Directory ends in half"},
      {"LaunchCrawler", "KESTREL_HOME", 1, "is invalid.  \\(KESTREL_HOME ends in half"},
      {"LaunchCrawler", "GATHERER_NAME", 1, "is invalid.  \\(GATHERER_NAME ends in half"},
      {"LaunchServer", "KESTREL_HOME", 1, "is invalid.  \\(KESTREL_HOME ends in half"},
      {"LaunchServer", "GATHERER_DATA", 1, "is invalid.  \\(GATHERER_DATA ends in half"},
      {"StopServer", "KESTREL_HOME", 253, "Invalid file .*\n.*ERROR: KESTREL_HOME ends in half"},
      {"StopServer", "GATHERER_DATA", 253, "Invalid file .*\n.*ERROR: GATHERER_DATA ends in half"},
      // Registry values and arguments cannot carry such bytes into a Windows program.
      {"LaunchCrawler", "PerlPath", 0, "ERROR: PerlPath .* ends in half"},
      {"storeseal", "PerlPath", 1, "ERROR: The Perl path ends in half"},
      {"storeseal", "GzipPath", 1, "ERROR: The gzip path ends in half"},
      {"packdump", "GzipPath", 1, "ERROR: The gzip path ends in half"},
      {"storeseal", "directory", 1, "ERROR: The directory .* ends in half"},
      {"pdfsift", "KESTREL_HOME", 1, "pdfsift: KESTREL_HOME ends in half"},
  };
  dir_.write("in/tools/perl" + kHalf, "");
  for (const auto& row : rows) {
    SCOPED_TRACE(std::string(row.program) + " " + row.half);
    const bool registry_value = std::string(row.half).ends_with("Path");
    const bool argument = std::string(row.half) == "directory" || std::string(row.program) == "pdfsift";
    if (lxt::is_wine() && (registry_value || argument)) continue;
    lay_out(row.half);
    // As bytes: the text form would read the closing quote as the half character's second byte.
    std::string bytes = "hex(1):";
    for (const char c : dir_.host("in/tools/perl") + kHalf) bytes += {"0123456789abcdef"[(c >> 4) & 15], "0123456789abcdef"[c & 15], ','};
    if (registry_value) registry("\"" + std::string(row.half) + "\"=" + bytes + "00\n");
    const std::string before = snapshot("");
    const lxt::RunResult result =
        std::string(row.half) == "directory" ? lxt::run_text({lxt::program("storeseal"), "gid", dir_.file("in/data") + kHalf})
        : std::string(row.program) == "pdfsift"
            ? run(row.program, {{"KESTREL_HOME", dir_.file("in/home") + kHalf}})
            : run(row.program);
    EXPECT_EQ(result.status, row.status) << result.err;
    EXPECT_TRUE(std::regex_search(result.err, std::regex(row.said))) << result.err;
    EXPECT_EQ(result.out.find("Content-Type"), std::string::npos) << result.out;
    EXPECT_TRUE(journal().empty()) << "a program ran";
    EXPECT_EQ(snapshot(""), before);
    registry("");
  }
}

// The files the programs open by name, with what a FIFO or a directory in a
// file's place brings, after which each goes on as its failure table says.
// `held`: a daemon holds in/data/exportd.log (or what its link leads to).
const struct Opened {
  const char* program;
  const char* file;
  int status;
  const char* said;
  bool held = false;
  int dir_status = -1;  // a directory's outcome where it is not the FIFO's
} kOpened[] = {
    {"cyclerun", "in/work/cyclerun.ini", 1, "Cannot open .*cyclerun.ini \\(errno=13\\)"},
    {"cyclerun", "in/work/gatherinput", 0, "Access is denied."},
    {"cyclerun", "in/inst/lib/lorvex.msg", 0, "QTRM107-E"},
    {"cyclerun", "in/registry.reg", 0, "QTRM109-E"},
    {"cyclerun", "in/data/PRODUCTION.gdbm", 0, ""},
    {"LaunchCrawler", "in/process.ini", 1, "Cannot open .*process.ini \\(errno=13\\)"},
    {"LaunchCrawler", "in/home/gatherers/demo/Gatherer.pid", 0, "Cannot open Gatherer.pid \\(errno=13\\)"},
    {"StopServer", "in/process.ini", 254, "Cannot open .*process.ini"},
    {"StopServer", "in/data/Exportd.pid", 1, "Cannot read Exportd.pid \\(errno=13\\)", true},
    // Whether a FIFO or a directory is held cannot be told; neither can be the daemon's log.
    {"StopServer", "in/data/exportd.log", 1, "Cannot tell whether exportd.log is held open for writing", true},
    {"LaunchServer", "in/data/exportd.log", 254, "is neither a plain file nor a device"},
    {"storeseal", "in/data/log", 0, ""},
    {"storeseal", "in/data/WORKING.gdbm", 1, "Cleaning WORKING.gdbm failed"},  // only its tools open it
    {"packdump", "in/data/All-Templates.gz", 0, "", false, 1},
    // A lock file is a regular file: anything else is no lock, and is left alone.
    {"storeseal", "in/data/storeseal.lock", 1, "ERROR: Cannot take the lock storeseal.lock \\(errno=13\\); nothing was changed"},
    {"packdump", "in/data/packdump.lock", 1, "ERROR: Cannot take the lock packdump.lock \\(errno=13\\)"},
    {"skim", "in/doc", 1, "skim: fopen"},
    {"cmd", "in/f", 1, "Access is denied."},
    {"cmd", "in/g", 1, "Access is denied."},
};

class OpenedFiles : public FileRules {
 protected:
  void SetUp() override {
    if (lxt::is_wine()) GTEST_SKIP() << "FIFOs and symbolic links are POSIX files";
    FileRules::SetUp();
  }
  void walk(const std::vector<std::string>& kinds, bool check_outcome) {
    for (const Opened& row : kOpened) {
      for (const std::string& kind : kinds) {
        SCOPED_TRACE(std::string(row.program) + " " + row.file + " " + kind);
        fs::remove(dir_.file("journal"));
        lay_out();
        dir_.write("in/f", "");
        lxt::RunOptions daemon;
        daemon.set("LXT_HOLD", dir_.file(kind == "link" ? "out/target" : "in/data/exportd.log"));
        daemon.set("LXT_PIDFILE", dir_.file("in/data/Exportd.pid")).set("LXT_UNTIL", dir_.file("release"));
        fs::remove(dir_.file("in/data/Exportd.pid"));
        std::optional<lxt::Background> held;
        if (row.held) held.emplace(std::vector<std::string>{lxt::double_path("lxrecord")}, daemon);
        ASSERT_TRUE(!row.held || lxt::wait_for_file(dir_.file("in/data/Exportd.pid")));
        replace(row.file, kind);
        const std::string outside = snapshot("out");
        const lxt::RunResult result = run(row.program, {{"LORVEX_REGISTRY", dir_.file("in/registry.reg")}});
        EXPECT_EQ(snapshot("out"), outside) << "a change outside the program's directories";
        if (check_outcome && kind != "missing") {  // the programs' own tests say what a missing file does
          EXPECT_EQ(result.status, kind == "dir" && row.dir_status != -1 ? row.dir_status : row.status) << result.err;
          EXPECT_TRUE(std::regex_search(result.err + result.out, std::regex(row.said))) << result.err << result.out;
          if (std::string(row.file).ends_with(".lock")) {
            const fs::file_status left = fs::symlink_status(dir_.file(row.file));
            EXPECT_EQ(left.type(), kind == "fifo" ? fs::file_type::fifo : fs::file_type::directory);
          }
        }
        fs::remove_all(dir_.file(row.file));  // a FIFO left in place would stop the next lay-out
      }
    }
  }
};

TEST_F(OpenedFiles, AFifoInAFilesPlaceIsNeverWaitedOn) { walk({"fifo"}, true); }
TEST_F(OpenedFiles, ADirectoryOrNothingInAFilesPlaceIsRefusedAsOnWindows) { walk({"dir", "missing"}, true); }

// What a link leads to may be read, as settings, input and pid files are; never written or made writable.
TEST_F(OpenedFiles, ALinkIsNeverWrittenThroughNorItsTargetsModeChanged) { walk({"link"}, false); }

}  // namespace
