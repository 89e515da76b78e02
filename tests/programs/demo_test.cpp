// The embedded demo installation, run as the demo runs it: the shipped
// gatherer's settings and URL input, the shipped catalogue and registry, the
// framework's stand-ins and a search service on 127.0.0.1.
#include <gtest/gtest.h>

#include <chrono>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "tests/programs/program_test.h"

namespace {

using lxt::RunResult;

// The repository's demo/ folder, found from this file's place in the tree.
std::string demo_dir() { return LXT_DEMO_DIR; }

std::string replace_all(std::string text, const std::string& from, const std::string& to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
    text.replace(at, from.size(), to);
  }
  return text;
}

std::vector<std::string> lines_of(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The text of a catalogue entry as the file holds it: the first line after
// the key line that is neither empty nor a comment.
std::string catalogue_text(const std::string& catalogue, const std::string& key) {
  const std::vector<std::string> lines = lines_of(lxt::lf(catalogue));
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (lines[i] != key) continue;
    for (std::size_t j = i + 1; j < lines.size(); ++j) {
      if (!lines[j].empty() && lines[j][0] != '#') return lines[j];
    }
  }
  return "";
}

// Every byte is ASCII, a single-byte katakana, or a lead byte followed by a
// trail byte of Shift_JIS (code page 932).
bool is_shift_jis(const std::string& text, int* double_byte_characters) {
  *double_byte_characters = 0;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte < 0x80 || (byte >= 0xA1 && byte <= 0xDF)) continue;
    const bool lead = (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
    if (!lead || i + 1 == text.size()) return false;
    const auto trail = static_cast<unsigned char>(text[++i]);
    if (trail < 0x40 || trail == 0x7F || trail > 0xFC) return false;
    ++*double_byte_characters;
  }
  return true;
}

std::string placeholders(const std::string& text) {
  std::string found;
  for (std::size_t i = 0; i + 1 < text.size(); ++i) {
    if (text[i] == '%' && (text[i + 1] == 's' || text[i + 1] == 'd')) found += text.substr(i++, 2);
  }
  return found;
}

TEST(DemoCatalogue, EveryIssuedKeyHasAJapaneseTextWithItsIdentifierAndPlaceholders) {
  struct Key {
    const char* key;
    const char* placeholders;
    const char* kind;  // "-E:" for errors, "-I:" for the success notices
  };
  const Key keys[] = {{"LXC_MSG_001", "%d", "-E:"},   {"LXC_MSG_002", "%s%d", "-E:"}, {"LXC_MSG_003", "", "-E:"},
                      {"LXC_MSG_016", "", "-E:"},     {"LXC_MSG_019NT", "", "-E:"},   {"LXC_MSG_020NT", "", "-E:"},
                      {"LXC_MSG_021", "%s%d", "-E:"}, {"LXC_MSG_022", "%s%d", "-E:"}, {"LXC_MSG_601", "", "-I:"},
                      {"LXC_MSG_610", "", "-I:"},     {"LXC_MSG_613NT", "", "-E:"}};
  const std::string catalogue = lxt::read_file(demo_dir() + "/lib/lorvex.msg");
  ASSERT_FALSE(catalogue.empty());
  std::vector<std::string> identifiers;
  for (const Key& k : keys) {
    SCOPED_TRACE(k.key);
    const std::string text = catalogue_text(catalogue, k.key);
    ASSERT_GE(text.size(), 10u);
    const std::string identifier = text.substr(0, 10);
    EXPECT_TRUE(std::regex_match(identifier, std::regex("[A-Z0-9-]{9}:"))) << identifier;
    EXPECT_EQ(identifier.substr(7), k.kind);
    EXPECT_EQ(placeholders(text), k.placeholders);
    int japanese = 0;
    EXPECT_TRUE(is_shift_jis(text, &japanese));
    EXPECT_GT(japanese, 0) << "the text is Japanese";
    for (const std::string& seen : identifiers) EXPECT_NE(seen, identifier) << "identifiers are distinct";
    identifiers.push_back(identifier);
  }
}

// Each local document summarized by the summarizer of its type, through the
// outside programs the summarizers start: the body text of the page (no
// title, script or comment), the troff page's abstract, the words of the
// print document's pages.
struct DemoSummary {
  const char* document;
  const char* summarizer;
  const char* holds;
  const char* lacks;  // null: nothing to look for
};
const DemoSummary kDemoSummaries[] = {
    {"guide.html", "htmlsift", "The demo gatherer collects the pages of the intranet once a week, summarizes each "
                               "document by its type & keeps", "Demo gatherer guide"},
    {"lxgather.1", "skim", "summarizes every document it fetches and finishes the databases. ...", nullptr},
    {"report.pdf", "pdfsift", "\tQuarterly gathering report The gatherer summarized 1,204 documents (38 new) "
                              "this quarter.", "/Type"},
};

// The demo in the test's own folder: the stand-ins keep no journal.
class Demo : public lxt::ProgramTest {
 protected:
  Demo() : ProgramTest("", Journal::kNone) {}
};

// One demo installation in a directory of the test's own (the lock file of a
// cycle goes there, never into the source tree).
class DemoCycle : public Demo {
 protected:
  void SetUp() override {
    catalogue_ = lxt::read_file(demo_dir() + "/lib/lorvex.msg");
    install_.write_catalogue(catalogue_);
    dir_.mkdir("demo");
    dir_.mkdir("demo/data");
    dir_.write("demo/data/PRODUCTION.gdbm", lxt::read_file(demo_dir() + "/gatherers/demo/data/PRODUCTION.gdbm"));
    dir_.write("demo/HTTPAuth.cf", "# no credentials\n");
    // The sample documents, named by file URLs of this target's form.
    dir_.mkdir("docs");
    for (const char* name : {"guide.html", "lxgather.1", "report.pdf"}) {
      dir_.write(std::string("docs/") + name, lxt::read_file(demo_dir() + "/gatherers/demo/documents/" + name));
    }
    const std::string docs = replace_all(dir_.host("docs"), "\\", "/");
    documents_url_ = (docs.starts_with("/") ? "file://" : "file:///") + docs;
    // The per-run files as the framework's gathering script writes them from
    // the demo gatherer's configuration: its URLs, four of which are fetched
    // over the network, three local documents, and two no gatherer could use.
    std::string input;
    for (const std::string& url :
         {std::string("http://www.example.jp/index.html"), std::string("http://www.example.jp/news/"),
          std::string("http://intranet.example.jp:8080/docs/manual.html"),
          std::string("https://www.example.co.jp/products/?lang=ja"), documents_url_ + "/guide.html",
          documents_url_ + "/lxgather.1", documents_url_ + "/report.pdf", std::string("mailto:webmaster@example.jp"),
          std::string("http:// www.example.jp/")}) {
      input += url + "\n";
    }
    dir_.write("demo/gatherinput", input);
    dir_.mkdir("demo/cache-liburl");
    const std::string work = dir_.host("demo");
    const std::string data = dir_.host("demo/data");
    dir_.write("demo/cyclerun.ini", "Gatherer-Name=demo\nWorking-Directory=" + work + "\nData-Directory=" + data +
                                        "\nKeep-Cache=no\nKESTREL_HOME=" + install_.path() +
                                        "\nLXG_STARTMODE=LX\nlinkprunecmd=linkprune " + work +
                                        "\nagecullcmd=agecull " + data + "\\PRODUCTION.gdbm\nkeybuildcmd=keybuild " +
                                        data + "\\PRODUCTION.gdbm\nseedcmd=seedurls\nessencecmd=essence --dbdir " +
                                        data + "\nstoresealcmd=storeseal demo " + data + "\n");
  }

  // The shipped sample registry with this installation and command port
  // filled in.
  void registry(int port) {
    std::string text = lxt::read_file(demo_dir() + "/../cmake/registry.reg.in");
    text = replace_all(text, "@LORVEX_REG_INSTALL_DIR@", replace_all(install_.path(), "\\", "\\\\"));
    text = std::regex_replace(text, std::regex("\"CgiPortNo\"=dword:[0-9a-fA-F]+"), "\"CgiPortNo\"=" + lxt::reg_dword(port));
    ASSERT_TRUE(install_.write_registry_text(text));
  }

  RunResult cyclerun() const {
    lxt::RunOptions options;
    options.cwd = dir_.file("demo");
    options.search_dirs.push_back(lxt::bin_dir() + "/../kestrel/bin");
    // essence finds the system's summarizers by the program search.
    options.search_dirs.push_back(lxt::bin_dir());
    return run_program("cyclerun", {"cyclerun.ini"}, options);
  }

  // The message of a page: its identifier and body cells.
  static std::string message_of(const std::string& page) {
    std::smatch match;
    if (!std::regex_search(page, match, std::regex("<TD ALIGN=\"left\">([^<]*)</TD>\n<TD ALIGN=\"left\">([^<]*)</TD>\n"))) {
      return "";
    }
    return match.str(1) + match.str(2);
  }

  // Each tool said what it did, in the cycle's order, database finishing last.
  static void expect_each_tool_said_what_it_did(const RunResult& result) {
    std::vector<std::string> tools;
    for (const std::string& line : lines_of(result.err)) tools.push_back(line.substr(0, line.find(':')));
    const std::vector<std::string> expected{"linkprune", "agecull",   "keybuild",  "seedurls",
                                            "essence",   "essence",   "essence",   "essence",
                                            "storetidy", "storejoin", "keybuild"};
    if (lxt::is_wine()) {
      // Wine's interpreter cannot start the POSIX Perl: it says so after these.
      ASSERT_GE(tools.size(), expected.size()) << result.err;
      tools.resize(expected.size());
    }
    EXPECT_EQ(tools, expected) << result.err;
    EXPECT_NE(result.err.find("seedurls: passed 7 URLs, skipped 2 lines"), std::string::npos) << result.err;
    EXPECT_NE(result.err.find("essence: appended 7 templates"), std::string::npos) << result.err;
  }

  // The URLs of the production database after the cycle: those gathered that
  // look fetchable, then the one kept from the production database.
  std::vector<std::string> production_urls() const {
    return {"http://www.example.jp/index.html",
            "http://www.example.jp/news/",
            "http://intranet.example.jp:8080/docs/manual.html",
            "https://www.example.co.jp/products/?lang=ja",
            documents_url_ + "/guide.html",
            documents_url_ + "/lxgather.1",
            documents_url_ + "/report.pdf",
            "http://www.example.jp/about.html"};
  }

  // What the production database holds, template by template.
  struct Production {
    std::vector<std::string> urls;
    std::map<std::string, std::string> summaries;  // URL -> its Summary attribute line
    std::map<std::string, std::string> updated;    // URL -> its Update-Time attribute line
  };
  Production read_production() const {
    Production production;
    for (const std::string& line : lines_of(lxt::lf(dir_.read("demo/data/PRODUCTION.gdbm")))) {
      if (line.starts_with("@FILE { ")) production.urls.push_back(line.substr(8));
      if (line.starts_with("Summary{")) production.summaries[production.urls.back()] = line;
      if (line.starts_with("Update-Time{")) production.updated[production.urls.back()] = line;
    }
    return production;
  }

  // A local document summarized by the summarizer of its type: its Summary
  // line holds what it should (and not what it should not), its length
  // prefix is right, and essence named the summarizer.
  void expect_summarized(const DemoSummary& e, const std::string& line, const std::string& err) const {
    SCOPED_TRACE(e.document);
    const std::string url = documents_url_ + "/" + e.document;
    EXPECT_NE(line.find(e.holds), std::string::npos) << line;
    if (e.lacks != nullptr) {
      EXPECT_EQ(line.find(e.lacks), std::string::npos) << line;
    }
    const std::size_t tab = line.find(":\t");
    ASSERT_NE(tab, std::string::npos) << line;
    EXPECT_EQ(line.substr(0, tab), "Summary{" + std::to_string(line.size() - tab - 2) + "}");
    EXPECT_NE(err.find(std::string("essence: ") + e.summarizer + " summarized " + url + " in "), std::string::npos)
        << err;
  }

  std::string catalogue_;
  std::string documents_url_;
};

TEST_F(DemoCycle, WholeCycleWithTheStandInsAndTheService) {
  lxt::Peer peer(lxt::Peer::answering("0"));
  ASSERT_NE(peer.port(), 0);
  registry(peer.port());

  const RunResult result = cyclerun();
  EXPECT_EQ(result.status, 0) << result.err;
  EXPECT_EQ(peer.finish(), 0);
  EXPECT_EQ(peer.request(), std::string("ZIVIDUZ demo\0", 13));
  EXPECT_EQ(message_of(result.out), catalogue_text(catalogue_, "LXC_MSG_601")) << result.out;

  ASSERT_NO_FATAL_FAILURE(expect_each_tool_said_what_it_did(result));
  EXPECT_TRUE(result.out.starts_with("storeseal: Using given directory: " + dir_.host("demo/data") + "\n")) << result.out;

  // The templates gathered for the URLs that look fetchable, consolidated with
  // the production database (a URL gathered anew replacing its old template)
  // and indexed; the gathered database is gone.
  const std::vector<std::string> urls = production_urls();
  Production production = read_production();
  EXPECT_EQ(production.urls, urls);
  const std::string old_stamp = "Update-Time{10}:\t1765152000";
  EXPECT_NE(production.updated["http://www.example.jp/index.html"], old_stamp) << "gathered anew";
  EXPECT_EQ(production.updated["http://www.example.jp/about.html"], old_stamp) << "kept from the production database";

  for (const DemoSummary& e : kDemoSummaries) {
    ASSERT_NO_FATAL_FAILURE(
        expect_summarized(e, production.summaries[documents_url_ + "/" + e.document], result.err));
  }
  EXPECT_EQ(production.summaries.size(), 3u);
  std::string index;
  for (const std::string& url : urls) index += url + "\n";
  EXPECT_EQ(lxt::lf(dir_.read("demo/data/INDEX.gdbm")), index);
  EXPECT_EQ(lines_of(lxt::lf(dir_.read("demo/data/MD5.gdbm"))).size(), urls.size());
  EXPECT_FALSE(dir_.exists("demo/data/WORKING.gdbm"));
  // Under Wine there are no statistics without Perl, nor their rendering.
  EXPECT_EQ(dir_.exists("demo/data/INFO_J.txt"), !lxt::is_wine());
  if (!lxt::is_wine()) {
    EXPECT_NE(dir_.read("demo/data/INFO.soif").find("Number-Of-Templates{1}:\t8\n"), std::string::npos);
  }

  // The per-run files are cleared away; the lock is gone again.
  for (const char* gone : {"demo/cyclerun.ini", "demo/gatherinput", "demo/HTTPAuth.cf", "demo/cache-liburl"}) {
    EXPECT_FALSE(dir_.exists(gone)) << gone;
  }
  EXPECT_FALSE(dir_.exists("inst/.lxQ71K58R03lock"));
}

TEST_F(DemoCycle, OtherOutcomesShowTheCataloguesTexts) {
  lxt::Peer peer(lxt::Peer::answering("12"));
  ASSERT_NE(peer.port(), 0);
  registry(peer.port());
  const RunResult answered = cyclerun();
  EXPECT_EQ(peer.finish(), 0);
  EXPECT_EQ(message_of(answered.out), catalogue_text(catalogue_, "LXC_MSG_610")) << answered.out;

  // Nothing listens on the port now that the peer has ended.
  SetUp();
  const RunResult down = cyclerun();
  EXPECT_EQ(message_of(down.out), catalogue_text(catalogue_, "LXC_MSG_019NT")) << down.out;

  SetUp();
  dir_.write("inst/.lxQ71K58R03lock", "");
  const RunResult locked = cyclerun();
  EXPECT_EQ(message_of(locked.out), catalogue_text(catalogue_, "LXC_MSG_016")) << locked.out;
}

// The demo's whole life, run from an installation of this build, with an
// export daemon that begins to listen only well after its starter's second
// (as on a busy machine): the demo waits for the daemon to answer before it
// holds a transfer, so the NORMAL stop meets a transfer and FORCED ends it.
TEST_F(Demo, WaitsForADaemonSlowToListen) {
  if (lxt::is_wine()) GTEST_SKIP() << "the demo runs the native installation";
  const RunResult installed =
      lxt::run({LXT_CMAKE_COMMAND, "--install", lxt::bin_dir() + "/..", "--prefix", dir_.file("prefix")});
  ASSERT_EQ(installed.status, 0) << installed.out << installed.err;
  lxt::RunOptions options;
  options.set("EXPORTD_LISTEN_DELAY_MS", "1500");
  options.timeout = std::chrono::milliseconds(300000);
  const RunResult demo = run_argv({dir_.file("prefix/bin/lorvex-demo"), dir_.file("run")}, options);
  EXPECT_EQ(demo.status, 0) << demo.out << demo.err;
  EXPECT_NE(demo.out.find("exportclient: 8 templates from 127.0.0.1:"), std::string::npos) << demo.out;
  EXPECT_NE(demo.out.find("exit status 1: a transfer is going on, the daemon is left running"), std::string::npos)
      << demo.out;
  EXPECT_FALSE(dir_.exists("run/gatherers/demo/data/Exportd.pid"));
  EXPECT_TRUE(lxt::read_file(dir_.file("run/gatherers/demo/data/exportd.log")).ends_with("stopped by request.\n"));
}

}  // namespace
