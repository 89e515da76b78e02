// Database finishing with the stand-ins, real gzip and real Perl, where a
// round trip matters.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <functional>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "tests/programs/program_test.h"
#include "tests/programs/seal_fixture.h"

namespace {

// The fixtures and helpers of the program tests.
using namespace lxt;

// ---- with the stand-ins, real gzip and real Perl ---------------------------------

class Finishing : public lxt::ProgramTest {
 protected:
  void SetUp() override {
    dir_.mkdir("killers");
    ASSERT_TRUE(install_.write_registry_text("REGEDIT4\n"));
  }

  // Gathered templates that overlap each other and the production database.
  void gathered(const std::string& data) const {
    dir_.mkdir(data);
    dir_.write(data + "/WORKING.gdbm", "@FILE { http://a.example.jp/1\nBody{1}:\tW\n}\n@FILE { http://b.example.jp/2\nBody{1}:\tW\n}\n");
    dir_.write(data + "/REFRESH.gdbm", "@FILE { http://a.example.jp/1\nBody{1}:\tR\n}\n");
    dir_.write(data + "/PRODUCTION.gdbm", "@FILE { http://c.example.jp/3\nBody{1}:\tP\n}\n@FILE { http://b.example.jp/2\nBody{1}:\tP\n}\n");
  }

  RunResult storeseal(const std::string& id, const std::string& data, std::vector<lxt::EnvChange> env = {}) const {
    lxt::RunOptions options;
    options.env = std::move(env);
    options.set("LXG_STARTMODE", "LX");
    options.search_dirs = search_;
    options.cwd = dir_.path();
    return lxt::run({lxt::program("storeseal"), id, dir_.file(data)}, options);
  }

  // The URLs of the templates of a database, in order.
  std::vector<std::string> urls(const std::string& name) const {
    std::vector<std::string> found;
    const std::string text = dir_.read(name);
    for (std::size_t at = text.find("@FILE { "); at != std::string::npos; at = text.find("@FILE { ", at + 1)) {
      found.push_back(text.substr(at + 8, text.find('\n', at) - at - 8));
    }
    return found;
  }

  // The files among INDEX.gdbm, MD5.gdbm, All-Templates.gz and INFO.soif
  // that do not describe the production database of the folder.
  std::vector<std::string> stale(const std::string& data) const {
    std::string index;
    for (const std::string& url : urls(data + "/PRODUCTION.gdbm")) index += url + "\n";
    const std::string count = std::to_string(std::count(index.begin(), index.end(), '\n'));
    const std::string unpacked = dir_.file(data + ".unpacked");
    std::system(("gzip -dc '" + dir_.file(data + "/All-Templates.gz") + "' > '" + unpacked + "' 2>/dev/null").c_str());
    const std::pair<const char*, bool> files[] = {
        {"INDEX.gdbm", dir_.read(data + "/INDEX.gdbm") == index},
        {"MD5.gdbm", std::regex_replace(dir_.read(data + "/MD5.gdbm"), std::regex("[0-9a-f]{16} "), "") == index},
        {"All-Templates.gz", lxt::read_file(unpacked) == dir_.read(data + "/PRODUCTION.gdbm")},
        {"INFO.soif", matches(dir_.read(data + "/INFO.soif"), "Number-Of-Templates\\{[0-9]\\}:\t" + count + "\n")}};
    std::vector<std::string> names;
    for (const auto& [name, agrees] : files) {
      if (!agrees) names.push_back(name);
    }
    return names;
  }

  std::vector<std::string> search_{dir_.file("killers"), lxt::bin_dir() + "/../kestrel/bin"};
};

class FailingChildren : public Finishing {
 protected:
  // The tools are links in one folder, gzip and Perl configured there, so
  // that each can be taken away or put behind a script that fails.
  void link_tools() {
    const std::string kestrel = lxt::bin_dir() + "/../kestrel/bin";
    dir_.mkdir("tools");
    std::vector<std::filesystem::path> linked{"/usr/bin/gzip", "/usr/bin/perl"};
    for (const auto& entry : std::filesystem::directory_iterator(kestrel)) linked.push_back(entry.path());
    for (const auto& path : linked) std::filesystem::create_symlink(path, tools() + "/" + path.filename().string());
    ASSERT_TRUE(install_.write_registry(lxt::RegistryKeys{
        .path00 = std::nullopt,
        .env_info = "\"GzipPath\"=" + lxt::reg_string(tools() + "/gzip") + "\n\"PerlPath\"=" +
                    lxt::reg_string(tools() + "/perl") + "\n"}));
    search_ = {tools()};
  }

  std::string tools() const { return dir_.file("tools"); }

  // Runs storeseal in the data directory with the tool as the outcome has
  // it: missing, ending with 3, killed after cut_short, or ending with 1
  // after cut_short. The tool is put back after.
  RunResult run_with(const std::string& tool, const std::string& outcome, const std::string& cut_short,
                     const std::string& data) {
    const std::string link = tools() + "/" + tool;
    const std::string real = std::filesystem::read_symlink(link).string();
    std::filesystem::remove(link);
    if (outcome != "missing") {
      const std::string body = outcome == "non-zero" ? "REAL \"$@\"\nexit 3"
                               : outcome == "killed"  ? cut_short + "\nkill -9 $$"
                                                      : cut_short + "\nexit 1";
      // Only gzip's probe of usability always succeeds.
      lxt::write_file(link, std::regex_replace("#!/bin/sh\n[ \"$1\" = -V ] && exec REAL -V\n" + body + "\n",
                                               std::regex("REAL"), real));
      std::filesystem::permissions(link, std::filesystem::perms::owner_all);
    }
    const RunResult result = storeseal("gid", data);
    std::filesystem::remove(link);
    std::filesystem::create_symlink(real, link);
    return result;
  }

  // No template is lost, and the run either succeeded with every file new
  // or failed naming each file that is still the old one.
  void check(const RunResult& result, const std::string& data, bool no_gzip, const std::set<std::string>& all) const {
    std::set<std::string> kept;
    for (const char* name : {"PRODUCTION.gdbm", "WORKING.gdbm", "REFRESH.gdbm"}) {
      for (const std::string& url : urls(data + "/" + name)) kept.insert(url);
    }
    const std::vector<std::string> left = stale(data);
    const bool succeeded = result.status == 0 && result.out.ends_with("storeseal: Databases ready for export.\n") &&
                           !dir_.exists(data + "/WORKING.gdbm") &&
                           left == std::vector<std::string>(no_gzip ? 1 : 0, "All-Templates.gz");
    bool failed = result.status != 0 && matches(result.err, "storeseal: " + kStamp + ": ERROR: ");
    for (const std::string& name : left) {
      failed = failed && result.err.find(name) != std::string::npos &&
               dir_.read(data + "/" + name) == dir_.read("base/" + name);
    }
    EXPECT_TRUE(kept == all && (succeeded || failed))
        << "status " << result.status << ", not describing the database: " << ::testing::PrintToString(left)
        << ", templates: " << ::testing::PrintToString(kept) << "\n" << result.err;
  }
};

TEST_F(FailingChildren, ChildrenThatFailEndInSuccessWithEveryFileNewOrInAFailureThatNamesTheOldOnes) {
  if (lxt::is_wine()) GTEST_SKIP() << "the failing children are shell scripts around the POSIX tools";
  link_tools();
  // A finished database, and a new gathering for it.
  gathered("base");
  ASSERT_EQ(storeseal("gid", "base").status, 0);
  ASSERT_TRUE(stale("base").empty());
  dir_.write("base/WORKING.gdbm", "@FILE { http://d.example.jp/4\nBody{1}:\tW\n}\n");
  dir_.write("base/REFRESH.gdbm", "@FILE { http://a.example.jp/1\nBody{1}:\tN\n}\n");
  const std::set<std::string> all{"http://a.example.jp/1", "http://b.example.jp/2", "http://c.example.jp/3",
                                  "http://d.example.jp/4"};
  // What each tool writes when it is cut short.
  const std::map<std::string, std::string> cut{{"storetidy", "head -c 40 \"$1\" > \"$1.tidy\""},
                                               {"storejoin", "REAL \"$@\" && truncate -s 40 \"$1\""},
                                               {"keybuild", "REAL \"$@\" && truncate -s 10 \"$2\""},
                                               {"dbmtool", "REAL \"$@\" | head -c 40"},
                                               {"gzip", "REAL \"$@\" | head -c 40"},
                                               {"perl", "REAL \"$@\" | head -c 40"}};
  int n = 0;
  for (const auto& [tool, cut_short] : cut) {
    for (const std::string outcome : {"missing", "non-zero", "killed", "partial output"}) {
      SCOPED_TRACE(tool + " " + outcome);
      const std::string data = "run" + std::to_string(++n);
      std::filesystem::copy(dir_.file("base"), dir_.file(data), std::filesystem::copy_options::recursive);
      const RunResult result = run_with(tool, outcome, cut_short, data);
      // Without a usable gzip no dump is made, and that is no failure.
      check(result, data, tool == "gzip" && outcome == "missing", all);
    }
  }
}

TEST_F(Finishing, RoundTripWithShiftJisIdAndDirectory) {
  // Arguments reach a program under Wine through UTF-8, and Wine's
  // interpreter cannot start the POSIX gzip and Perl.
  if (lxt::is_wine()) GTEST_SKIP() << "needs the POSIX gzip and Perl and Shift_JIS arguments";
  // Both end in a character whose second byte is 0x5C, the code of "\".
  const std::string id = "\x8e\xfb\x8f\x57\x95\x5c";      // 収集表
  const std::string data = "\x83\x66\x81\x5b\x83\x5e\x95\x5c";  // データ表
  gathered(data);
  const RunResult result = storeseal(id, data);
  ASSERT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(result.out, progress_out(dir_.file(data)));

  // Consolidated by URL, the freshest template kept: the gathered one before
  // the refreshed one before the production database's.
  EXPECT_EQ(dir_.read(data + "/PRODUCTION.gdbm"),
            "@FILE { http://a.example.jp/1\nBody{1}:\tW\n}\n@FILE { http://b.example.jp/2\nBody{1}:\tW\n}\n"
            "@FILE { http://c.example.jp/3\nBody{1}:\tP\n}\n");
  EXPECT_EQ(dir_.read(data + "/INDEX.gdbm"), "http://a.example.jp/1\nhttp://b.example.jp/2\nhttp://c.example.jp/3\n");

  // The dump is real gzip of the production database.
  const std::string unpacked = dir_.file("unpacked");
  ASSERT_EQ(std::system(("gzip -dc '" + dir_.file(data + "/All-Templates.gz") + "' > '" + unpacked + "'").c_str()), 0);
  EXPECT_EQ(lxt::read_file(unpacked), dir_.read(data + "/PRODUCTION.gdbm"));

  const std::string bytes = std::to_string(lxt::read_file(unpacked).size());
  EXPECT_EQ(dir_.read(data + "/INFO.soif"), "@INFO { " + id + "\nGatherer-ID{6}:\t" + id +
                                                "\nNumber-Of-Templates{1}:\t3\nNumber-Of-Hosts{1}:\t3\nNumber-Of-Bytes{" +
                                                std::to_string(bytes.size()) + "}:\t" + bytes + "\n}\n");
  const std::string japanese = dir_.read(data + "/INFO_J.txt");
  EXPECT_NE(japanese.find(": " + id + "\n"), std::string::npos) << japanese;
  EXPECT_NE(japanese.find(": 3\n"), std::string::npos) << japanese;
  for (const char* gone : {"WORKING.gdbm", "REFRESH.gdbm", "storeseal.gdbm", "packdump.out.gz"}) {
    EXPECT_FALSE(dir_.exists(data + "/" + gone)) << gone;
  }
}

TEST_F(Finishing, AKillAtAnyChildStartLosesNoTemplate) {
  struct Kill {
    const char* tool;
    int at;  // its n-th start
  };
  // packdump is found beside storeseal before any other folder: its own
  // children stand for the moment it starts. Under Wine, where the POSIX gzip
  // cannot be started, the copies that do not kill stand in for it.
  const Kill kills[] = {{"storetidy", 1}, {"storetidy", 2}, {"storejoin", 1}, {"keybuild", 1},
                        {"gzip", 1},      {"dbmtool", 1},   {"gzip", 2},      {"gzip", 3},
                        {"gzip", 4},      {"perl", 1},      {"ridOrizIdor", 1}};
  const std::vector<std::string> all{"http://a.example.jp/1", "http://b.example.jp/2", "http://c.example.jp/3"};
  int n = 0;
  for (const Kill& kill : kills) {
    SCOPED_TRACE(std::string(kill.tool) + " #" + std::to_string(kill.at));
    // The rendering follows new statistics only, which need Perl.
    if (lxt::is_wine() && std::string(kill.tool) == "ridOrizIdor") continue;
    const std::string data = "data" + std::to_string(++n);
    gathered(data);
    const std::string killer = lxt::install_double("lxkill", dir_.file("killers"), kill.tool);
    const RunResult killed = storeseal("gid", data,
                                       {{"LXT_KILL", "storeseal"},
                                        {"LXT_KILL_AT", std::to_string(kill.at)},
                                        {"LXT_KILL_COUNT", dir_.file(data + ".count")}});
    std::remove(killer.c_str());
    // SIGKILL natively; under Wine the status the killer gives TerminateProcess.
    EXPECT_EQ(killed.status, 128 + 9) << killed.err;
    EXPECT_TRUE(dir_.exists(data + "/PRODUCTION.gdbm"));

    // Run again: it finishes, or finds the gathering already finished, once
    // the killed run's children, which keep its lock, have ended.
    RunResult again;
    EXPECT_TRUE(lxt::wait_until(
        [&] {
          again = storeseal("gid", data);
          return again.err.find("storeseal.lock is locked") == std::string::npos;
        },
        std::chrono::seconds(60)));
    EXPECT_TRUE(again.status == 0 || (again.status == 1 && !dir_.exists(data + "/WORKING.gdbm"))) << again.err;
    if (again.status != 0 && !lxt::is_wine()) {
      // Cut short after the new database took its place: packdump alone makes
      // its dump, once the one the killed storeseal started has ended.
      EXPECT_TRUE(lxt::wait_until([&] { return !dir_.exists(data + "/packdump.lock"); }, std::chrono::seconds(60)));
      lxt::RunOptions alone;
      alone.cwd = dir_.file(data);
      alone.search_dirs = search_;
      EXPECT_EQ(lxt::run({lxt::program("packdump")}, alone).status, 0);
      EXPECT_FALSE(contains(stale(data), "All-Templates.gz"));
    }
    std::vector<std::string> found = urls(data + "/PRODUCTION.gdbm");
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, all);
    EXPECT_FALSE(dir_.exists(data + "/storeseal.gdbm"));
  }
}

}  // namespace
