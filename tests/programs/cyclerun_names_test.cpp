// The gathering cycle's working directory by name: every step acts on the
// one directory the settings name, and a name that could lead elsewhere is
// refused.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include "tests/programs/cycle_fixture.h"
#include "tests/programs/program_test.h"

namespace {

// The fixtures and helpers of the program tests.
using namespace lxt;

// A directory name an administrator may choose, as Shift_JIS bytes, and
// what the cycle must do with it on the target that runs.
struct DirName {
  std::string name;
  const char* refused_native;   // the reason in the refusal, or null: the cycle acts on it
  const char* refused_windows;  // likewise for the Windows build
  bool windows_name = true;     // a name Windows allows at all
};

std::vector<DirName> chosen_names() {
  const char* kExpands = "holds percent signs that the command interpreter would expand";
  const char* kDropped = "has a part that ends in a dot or a blank, which Windows drops";
  return {
      {"g old", nullptr, nullptr},
      {"g,old", nullptr, nullptr},
      {"g;old", nullptr, nullptr},
      {"g=old", nullptr, nullptr},
      {"g&old", nullptr, nullptr},
      {"g(old)", nullptr, nullptr},
      {"g^old", nullptr, nullptr},
      {"g!old", nullptr, nullptr},
      {"g,/S,old", nullptr, nullptr, false},  // "/" separates on Windows
      {"g|old", nullptr, nullptr, false},
      {"g<old>", nullptr, nullptr, false},
      {"g\told", nullptr, nullptr, false},
      {"g%OS%", kExpands, kExpands},
      {"g%PATH%old", kExpands, kExpands},
      {"g%", nullptr, nullptr},  // a lone percent sign expands nothing
      {"g.", nullptr, kDropped},
      {"g ", nullptr, kDropped},
      {"g\"old", "holds a double quote", "holds a double quote", false},
      // Shift_JIS characters whose second byte is "\" and "|".
      {"g\x95\x5C", nullptr, nullptr},
      {"g\x83\x7C" "old", nullptr, nullptr},
      {"g\x95\x5C" "old", nullptr, nullptr},
  };
}

// "g" beside W, and "old" in the current directory, where a relative rest
// of a split name would land, each with the files a cycle removes.
void make_neighbours(const lxt::TempDir& dir) {
  for (const std::string neighbour : {"g/g", "old"}) {
    dir.mkdir(neighbour.substr(0, neighbour.find('/')));
    dir.mkdir(neighbour);
    dir.mkdir(neighbour + "/cache-liburl");
    for (const char* file : {"localmap.cf", "HTTPAuth.cf", "FTPAuth.cf", "gatherinput", "cyclerun.ini"}) {
      dir.write(neighbour + "/" + file, "neighbour");
    }
  }
}

void expect_neighbours_kept(const lxt::TempDir& dir) {
  for (const std::string neighbour : {"g/g", "old"}) {
    EXPECT_TRUE(dir.exists(neighbour + "/cache-liburl")) << neighbour;
    for (const char* file : {"localmap.cf", "HTTPAuth.cf", "FTPAuth.cf", "gatherinput", "cyclerun.ini"}) {
      EXPECT_EQ(dir.read(neighbour + "/" + file), "neighbour") << neighbour << "/" << file;
    }
  }
}

// A Shift_JIS name as the file system holds it: Wine keeps Windows names as
// UTF-8 in the POSIX file system.
std::string fs_name(const std::string& sjis) { return lxt::is_wine() ? lxt::convert(sjis, "UTF-8", "CP932") : sjis; }

// The cycle's composed lines ("type W\gatherinput | ...", "rmdir /S /Q
// W\cache-liburl") and its removal of W\localmap.cf act on W and on no
// neighbour: neither "g", whose name is a prefix of W's, nor the "old" that
// a separator would make of W's rest. Or W is refused before anything runs.
TEST_F(Cycle, ComposedLinesActOnTheWorkingDirectoryAndNoNeighbour) {
  for (const DirName& row : chosen_names()) {
    if (lxt::is_wine() && !row.windows_name) continue;
    SCOPED_TRACE(row.name);
    const char* refusal = lxt::is_wine() ? row.refused_windows : row.refused_native;
    make_neighbours(dir_);
    const std::string ours = "g/" + fs_name(row.name);
    const std::string ours_host = dir_.host("g") + lxt::host_sep() + row.name;
    dir_.mkdir(ours);
    dir_.mkdir(ours + "/cache-liburl");
    dir_.write(ours + "/cache-liburl/page", "cached");
    dir_.write(ours + "/gatherinput", kUrls);
    dir_.write(ours + "/localmap.cf", "m");
    std::string text = base_settings();
    text.replace(text.find("Working-Directory=" + work()), ("Working-Directory=" + work()).size(),
                 "Working-Directory=" + ours_host);
    // Given from outside W: Windows would read "g.\cyclerun.ini" as the
    // neighbour's.
    dir_.write(ours + "/cyclerun.ini", text);
    dir_.write("run.ini", text);
    lxt::RunOptions options;
    options.set("LXT_SEEDURLS_STDIN", "read");
    const RunResult result = cyclerun({dir_.host("run.ini")}, options);
    EXPECT_EQ(result.status, 0);
    if (refusal != nullptr) {
      EXPECT_TRUE(matches(result.err, "^" + kPrefix + "ERROR: .* is invalid.  \\(Working-Directory " +
                                          std::regex_replace(refusal, std::regex("[.()]"), "\\$&") + ".\\)\n$"))
          << result.err;
      EXPECT_TRUE(journal().empty());
      for (const char* kept : {"cache-liburl/page", "localmap.cf", "gatherinput", "cyclerun.ini"}) {
        EXPECT_TRUE(dir_.exists(ours + "/" + kept)) << kept;
      }
    } else {
      EXPECT_EQ(result.err, "");
      ASSERT_NE(find("seedurls"), nullptr);
      EXPECT_EQ(lxt::lf(find("seedurls")->stdin_data.value_or("<none>")), kUrls);
      for (const char* gone : {"cache-liburl", "localmap.cf", "gatherinput", "cyclerun.ini"}) {
        EXPECT_FALSE(dir_.exists(ours + "/" + gone)) << gone;
      }
    }
    expect_neighbours_kept(dir_);
    std::filesystem::remove_all(dir_.file("g"));
    std::filesystem::remove_all(dir_.file("old"));
    std::filesystem::remove(dir_.file("journal"));
  }
}

// A link followed by "..": every step names the one directory the kernel
// resolves, where the tools that wrote gatherinput reached it; the text's
// reading ("other") is never touched.
TEST_F(Cycle, EveryStepActsOnTheOneResolvedWorkingDirectory) {
  if (lxt::is_wine()) GTEST_SKIP() << "Windows resolves \"..\" by the text throughout: one reading already";
  dir_.mkdir("other");
  dir_.mkdir("other/cache-liburl");
  dir_.write("other/localmap.cf", "other");
  dir_.write("other/gatherinput", "http://other/\n");
  dir_.mkdir("g2");
  dir_.mkdir("g2/sub");
  dir_.mkdir("g2/cache-liburl");
  dir_.write("g2/localmap.cf", "m");
  dir_.write("g2/gatherinput", kUrls);
  ASSERT_EQ(::symlink("../g2/sub", dir_.file("other/cur").c_str()), 0);
  std::string text = base_settings();
  text.replace(text.find("Working-Directory=" + work()), ("Working-Directory=" + work()).size(),
               "Working-Directory=" + dir_.host("other/cur/.."));
  dir_.write("g2/cyclerun.ini", text);
  lxt::RunOptions options;
  options.set("LXT_SEEDURLS_STDIN", "read");
  const RunResult result = cyclerun({dir_.host("g2/cyclerun.ini")}, options);
  EXPECT_EQ(result.err, "");
  ASSERT_NE(find("seedurls"), nullptr);
  EXPECT_EQ(lxt::lf(find("seedurls")->stdin_data.value_or("<none>")), kUrls);
  for (const char* gone : {"cache-liburl", "localmap.cf", "gatherinput", "cyclerun.ini"}) {
    EXPECT_FALSE(dir_.exists("g2/" + std::string(gone))) << gone;
  }
  EXPECT_TRUE(dir_.exists("other/cache-liburl"));
  EXPECT_EQ(dir_.read("other/localmap.cf"), "other");
  EXPECT_EQ(dir_.read("other/gatherinput"), "http://other/\n");
}

TEST_F(Cycle, AWorkingDirectoryWithADoubleQuoteIsRefusedBeforeAnythingRuns) {
  std::string text = base_settings();
  text.replace(text.find("Working-Directory=" + work()), ("Working-Directory=" + work()).size(),
               "Working-Directory=" + work() + "\"x");
  const RunResult result = cyclerun({settings(text)});
  EXPECT_EQ(result.status, 0);
  EXPECT_TRUE(matches(result.err, "^" + kPrefix + "ERROR: .* is invalid.  \\(Working-Directory holds a double quote.\\)\n$"))
      << result.err;
  EXPECT_TRUE(journal().empty());
  EXPECT_TRUE(dir_.exists(in_work("gatherinput")));
}

// A working directory whose name, as the file system gives it, means another
// path to the steps is refused before anything runs, and neither it nor the
// neighbour it would name is touched: natively a "\" in a directory's own
// name (reached through a link, or as the current directory of "."), and
// "g\.." as the current directory; under Wine (code page 932) a yen sign,
// which a best fit would turn into "\". Natively the yen sign is a name of
// its own, where the cycle runs.
TEST_F(Cycle, AWorkingDirectoryWhoseNameChangesMeaningIsRefused) {
  struct Row {
    std::string dir;        // the working directory, under the test folder
    std::string value;      // Working-Directory ("": the link "lnk" to dir)
    std::string neighbour;  // what the name would mean to a step
    bool native, wine;      // the case exists there
    bool runs;              // natively the cycle runs in dir
  };
  const Row rows[] = {
      {"v\\w", "", "v/w", true, false, false},
      {"v\\w", ".", "v/w", true, false, false},
      {"p/g\\..", ".", "p", true, false, false},
      {"v\xC2\xA5w", ".", "v/w", true, true, true},
  };
  const auto plant = [&](const std::string& d, const std::string& text) {
    dir_.mkdir(d);
    dir_.mkdir(d + "/cache-liburl");
    for (const char* f : {"localmap.cf", "gatherinput"}) dir_.write(d + "/" + f, text);
  };
  for (const Row& row : rows) {
    if (lxt::is_wine() ? !row.wine : !row.native) continue;
    SCOPED_TRACE(row.dir);
    const bool runs = row.runs && !lxt::is_wine();
    for (const char* d : {"v", "p", "lnk", "journal"}) std::filesystem::remove_all(dir_.file(d));
    plant(row.neighbour.substr(0, row.neighbour.find('/')), "neighbour");
    plant(row.neighbour, "neighbour");
    plant(row.dir, kUrls);
    if (row.value.empty()) {
      ASSERT_EQ(::symlink(row.dir.c_str(), dir_.file("lnk").c_str()), 0);
    }
    std::string text = base_settings();
    text.replace(text.find("Working-Directory=" + work()), ("Working-Directory=" + work()).size(),
                 "Working-Directory=" + (row.value.empty() ? dir_.host("lnk") : row.value));
    dir_.write("run.ini", text);
    lxt::RunOptions options;
    options.search_dirs.push_back(install_.tools_dir());
    options.cwd = dir_.file(row.dir);
    options.set("LXT_SEEDURLS_STDIN", "read");
    const RunResult result = run_program("cyclerun", {dir_.host("run.ini")}, options);
    EXPECT_EQ(result.status, 0);
    if (runs) {
      EXPECT_EQ(result.err, "");
      ASSERT_NE(find("seedurls"), nullptr);
      EXPECT_EQ(lxt::lf(find("seedurls")->stdin_data.value_or("<none>")), kUrls);
      EXPECT_FALSE(dir_.exists(row.dir + "/localmap.cf"));
    } else {
      EXPECT_TRUE(matches(result.err, "^" + kPrefix + "ERROR: .* is invalid.  \\(Working-Directory leads to a path "
                                                      "that cannot be named exactly .*\n$"))
          << result.err;
      EXPECT_TRUE(journal().empty());
      EXPECT_EQ(dir_.read(row.dir + "/localmap.cf"), kUrls);
      EXPECT_TRUE(dir_.exists(row.dir + "/cache-liburl"));
    }
    EXPECT_EQ(dir_.read(row.neighbour + "/localmap.cf") + dir_.read(row.neighbour + "/gatherinput"),
              "neighbourneighbour");
    EXPECT_TRUE(dir_.exists(row.neighbour + "/cache-liburl"));
  }
}

// The run's files are removed as files only: a directory or a link in the
// place of one is left as it is, with a line that says so, and what a link
// leads to is never touched; the cycle goes on. A read-only file goes.
TEST_F(Cycle, TheRunsSettingsFilesAreRemovedAsFilesOnly) {
  struct Row {
    std::string kind;
    bool removed;
  };
  const Row rows[] = {{"read-only file", true}, {"directory", false}, {"link to a directory", false},
                      {"link to a file", false}};
  for (const Row& row : rows) {
    SCOPED_TRACE(row.kind);
    // Wine shows a POSIX link to a file as that file (no reparse point) and
    // removes what it leads to; Windows opens the link itself, which is left.
    if (lxt::is_wine() && row.kind == "link to a file") continue;
    for (const char* d : {"victim", "work/localmap.cf", "journal"}) std::filesystem::remove_all(dir_.file(d));
    dir_.mkdir("victim");
    dir_.write("victim/keep", "k");
    dir_.write("work/gatherinput", kUrls);
    if (row.kind == "read-only file") {
      dir_.write("work/localmap.cf", "m");
      make_read_only(dir_.file("work/localmap.cf"));
    }
    if (row.kind == "directory") dir_.mkdir("work/localmap.cf");
    if (row.kind.starts_with("link")) {
      const std::string target = row.kind == "link to a file" ? "../victim/keep" : "../victim";
      ASSERT_EQ(::symlink(target.c_str(), dir_.file("work/localmap.cf").c_str()), 0);
    }
    const RunResult result = cyclerun({settings(base_settings())});
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(dir_.exists("work/localmap.cf"), !row.removed);
    EXPECT_EQ(matches(result.err, kPrefix + "ERROR: .*localmap\\.cf is not a file: it is left in place\\.\n"),
              !row.removed)
        << result.err;
    EXPECT_EQ(dir_.read("victim/keep"), "k");
    EXPECT_NE(find("storeseal"), nullptr) << "the cycle goes on";
  }
}

}  // namespace
