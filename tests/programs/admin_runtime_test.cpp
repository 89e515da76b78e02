// The shared administration runtime seen from outside, on the target: the
// driver lxadmindrive calls the catalogue lookup, the message routines and the
// registry settings against real catalogue files and a real registry, and the
// tests compare what reaches standard output byte for byte.

#include <gtest/gtest.h>

#include <cerrno>
#include <stdexcept>
#include <string>
#include <vector>

#include "tests/programs/program_test.h"
#include "tests/tools/bytes_text.h"

namespace {

using lxt_bytes::escaped;
using lxt_bytes::hex;

// ---- texts ------------------------------------------------------------------

// The Shift_JIS bytes of a UTF-8 text: the programs' texts are code page 932.
std::string sjis(const std::string& utf8) { return lxt::convert(utf8, "CP932", "UTF-8"); }

const std::string kTable = sjis("表");  // 0x95 0x5C: its trail byte is a backslash

const char kRoot[] = "HKEY_LOCAL_MACHINE";
const char kPathNameKey[] = "SOFTWARE\\VELMORA\\Moxa3R\\0201/A\\PathName";
const char kEnvInfoKey[] = "SOFTWARE\\VELMORA\\Moxa3R\\0201/A\\EnvInfo";

std::string qtrm001_body(int detail) {
  return sjis("システムエラーが発生しました。システム管理者に連絡してください。（詳細コード=") +
         std::to_string(detail) + sjis("）");
}
std::string qtrm008_body() {
  return sjis("ファイル (lorvex.msg) の内容は不正です。Lorvexの環境を見直してください。");
}
std::string qtrm107_body(const std::string& path) {
  return sjis("メッセージファイル (") + path + sjis(") がオープンできません。Lorvexの環境を見直してください。");
}
std::string qtrm109_body(const std::string& key, const std::string& name) {
  return sjis("レジストリキー(") + kRoot + "," + key + sjis(")の、値(") + name +
         sjis(")の内容が不正です。Lorvexの環境を見直してください。");
}

// The four identification comment lines at the head of the page and the text
// of its footer are the implementation's own: checked for their shape and
// replaced by these before a comparison.
const char kFreeComment[] = "<!-- * -->";
const char kFreeFooter[] = "<H4 ALIGN=\"center\">*</H4>";

// One whole response: CGI head, the comment line (identifier without its
// colon and the arguments), the 28 lines of the page.
std::string response(const std::string& comment, const std::string& identifier, const std::string& body) {
  std::string r = "Content-Type: text/html\n\n<!-- " + comment + " -->\n";
  for (int i = 0; i < 4; ++i) r += std::string(kFreeComment) + "\n";
  r += "\n"
       "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\n" +
       sjis("<HTML><HEAD><TITLE>Lorvex メッセージ</title></HEAD>\n") +
       "<BODY BACKGROUND=\"/Lorvex-doc/admin/GIF/bk.gif\" BGCOLOR=\"#FFFFFF\" TOPMARGIN=\"0\" LEFTMARGIN=\"0\">\n"
       "<CENTER><TABLE BORDER=\"0\"><TR>\n"
       "<TD ALIGN=\"left\"><IMG SRC=\"/Lorvex-doc/admin/GIF/head1.gif\"></TD>\n"
       "<TD ALIGN=\"left\"><IMG SRC=\"/Lorvex-doc/admin/GIF/foot2.gif\" WIDTH=\"380\" HEIGHT=\"22\"></TD>\n"
       "<TD ALIGN=\"left\"><IMG SRC=\"/Lorvex-doc/admin/GIF/head2.gif\"></TD>\n"
       "</TR></TABLE>\n" +
       sjis("<H2>メッセージ</H2></CENTER>\n") +
       "<FONT SIZE=\"4\"><DL><DD><TABLE><TR>\n"
       "<TD ALIGN=\"left\">" + identifier + "</TD>\n"
       "<TD ALIGN=\"left\">" + body + "</TD>\n"
       "</TR></TABLE></DL></FONT>\n"
       "<FORM ACTION=\"\">\n" +
       sjis("<DL><DD><INPUT TYPE=\"button\" VALUE=\"戻る\" onClick=\"history.go(-1)\"></DL>\n") +
       "</FORM>\n"
       "<DIV ALIGN=\"center\"><CENTER><TABLE BORDER=\"0\"><TR>\n"
       "<TD ALIGN=\"left\"><IMG SRC=\"/Lorvex-doc/admin/GIF/head2.gif\"></TD>\n"
       "<TD ALIGN=\"left\"><IMG SRC=\"/Lorvex-doc/admin/GIF/foot2.gif\" WIDTH=\"380\" HEIGHT=\"22\"></TD>\n"
       "<TD ALIGN=\"left\"><IMG SRC=\"/Lorvex-doc/admin/GIF/head3.gif\"></TD>\n"
       "</TR></TABLE></CENTER></DIV>\n" +
       kFreeFooter + "\n"
       "</BODY></HTML>\n";
  return r;
}

// Text as the target writes it to standard output: CR LF under Wine.
std::string on_target(const std::string& text) {
  if (!lxt::is_wine()) return text;
  std::string out;
  for (char c : text) {
    if (c == '\n') out += '\r';
    out += c;
  }
  return out;
}

bool starts_ends(const std::string& s, const std::string& head, const std::string& tail) {
  return s.size() > head.size() + tail.size() && s.compare(0, head.size(), head) == 0 &&
         s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// Replaces the implementation's own lines of every response in out by the
// markers, when they have the shape of an HTML comment and a centred footer.
std::string mask_free_lines(const std::string& out) {
  std::vector<std::string> lines;  // each with its line end
  for (size_t pos = 0; pos < out.size();) {
    size_t nl = out.find('\n', pos);
    size_t end = nl == std::string::npos ? out.size() : nl + 1;
    lines.push_back(out.substr(pos, end - pos));
    pos = end;
  }
  auto content = [](const std::string& line, std::string* ending) {
    size_t cut = line.size();
    if (cut > 0 && line[cut - 1] == '\n') --cut;
    if (cut > 0 && line[cut - 1] == '\r') --cut;
    *ending = line.substr(cut);
    return line.substr(0, cut);
  };
  size_t head = std::string::npos;
  for (size_t i = 0; i < lines.size(); ++i) {
    std::string ending;
    const std::string text = content(lines[i], &ending);
    if (text == "Content-Type: text/html") head = i;
    if (head != std::string::npos && i >= head + 3 && i <= head + 6 && starts_ends(text, "<!-- ", " -->"))
      lines[i] = kFreeComment + ending;
    std::string next_ending;
    if (i + 1 < lines.size() && content(lines[i + 1], &next_ending) == "</BODY></HTML>" &&
        starts_ends(text, "<H4 ALIGN=\"center\">", "</H4>"))
      lines[i] = kFreeFooter + ending;
  }
  std::string masked;
  for (const auto& l : lines) masked += l;
  return masked;
}

using lxt::backslashed;
using lxt::reg_string;

std::string section(const std::string& key) { return "[HKEY_LOCAL_MACHINE\\" + key + "]\n"; }

// ---- fixture ------------------------------------------------------------------

// A catalogue with the keys the runtime issues itself.
const char kCatalogue[] =
    "# catalogue of the tests\n"
    "LXC_MSG_001\nTS00001-E:called wrongly (%d)\n"
    "LXC_MSG_613NT\nTS00613-E:GzipPath is empty\n";

class AdminRuntime : public lxt::ProgramTest {
 protected:
  void SetUp() override { dir_.mkdir("inst/lib"); }

  // The installation directory inst/ with the catalogue bytes (none: no
  // catalogue file) and more registry lines for the EnvInfo key.
  void install(const std::string* catalogue, const std::string& env_info = "") {
    if (catalogue != nullptr) dir_.write("inst/lib/lorvex.msg", *catalogue);
    registry(section(kPathNameKey) + "\"Path00\"=" + reg_string(dir_.host("inst")) + "\n\n" +
             (env_info.empty() ? "" : section(kEnvInfoKey) + env_info));
  }
  void install(const std::string& catalogue, const std::string& env_info = "") { install(&catalogue, env_info); }

  void registry(const std::string& keys) { ASSERT_TRUE(install_.write_registry_text("REGEDIT4\n\n" + keys)); }

  // Runs the driver; the routines' output in out, the driver's report in err.
  lxt::RunResult drive(const std::vector<std::string>& subcommands) {
    std::vector<std::string> argv{lxt::double_path("lxadmindrive")};
    argv.insert(argv.end(), subcommands.begin(), subcommands.end());
    lxt::RunOptions options;
    options.cwd = dir_.path();
    lxt::RunResult r = lxt::run(argv, options);
    EXPECT_FALSE(r.timed_out);
    EXPECT_EQ(r.status, 0) << r.err;
    return r;
  }

  // Checks the whole standard output against the responses, byte for byte.
  static void expect_output(const lxt::RunResult& r, const std::string& responses) {
    EXPECT_EQ(mask_free_lines(r.out), on_target(responses));
  }

  // A file with these bytes, named as the target sees it.
  std::string file(const std::string& name, const std::string& bytes) {
    dir_.write(name, bytes);
    return dir_.host(name);
  }
};

// ---- catalogue ----------------------------------------------------------------

TEST_F(AdminRuntime, CatalogueLookupReadsEntriesAsTheFileFormatSays) {
  const std::string x4085(4085, 'x');  // with a 10-character identifier: 4095
  struct Case {
    const char* what;
    std::string catalogue;
    std::string key;
    std::string text;  // empty: reported as missing
  } cases[] = {
      {"first occurrence wins", "LXC_MSG_001\nTS00001-E:first\nLXC_MSG_001\nTS00001-E:second\n", "LXC_MSG_001",
       "TS00001-E:first"},
      {"key line with a trailing blank", "LXC_MSG_001 \nTS00001-E:x\n", "LXC_MSG_001", ""},
      {"key line in other case", "lxc_msg_001\nTS00001-E:x\n", "LXC_MSG_001", ""},
      {"key on the last line without a line break", "LXC_MSG_002\nTS00002-E:x\nLXC_MSG_001", "LXC_MSG_001", ""},
      {"entry of empty and comment lines only", "LXC_MSG_001\n\n# nothing\n\nLXC_MSG_002\nTS00002-E:x\n",
       "LXC_MSG_001", ""},
      {"entry at the end of the file", "LXC_MSG_001\n\n# none\n", "LXC_MSG_001", ""},
      {"entry running to the end without a line break", "LXC_MSG_001\nTS00001-E:one\ntwo", "LXC_MSG_001",
       "TS00001-E:one\ntwo"},
      {"unused LXC_MSG_ line ends the entry", "LXC_MSG_001\nTS00001-E:one\nLXC_MSG_ not a key\ntwo\n",
       "LXC_MSG_001", "TS00001-E:one"},
      {"text line of an earlier entry taken as the key line",
       "LXC_MSG_005\nTS00005-E:text\nmore\nLXC_MSG_006\nTS00006-E:x\n", "TS00005-E:text", "more"},
      {"lines joined by one LF, empty and comment lines dropped",
       "LXC_MSG_001\nTS00001-E:one\n\n# between\n\ntwo\nLXC_MSG_002\nTS00002-E:x\n", "LXC_MSG_001",
       "TS00001-E:one\ntwo"},
      {"CR LF line ends", "# c\r\nLXC_MSG_001\r\nTS00001-E:one\r\n\r\n#x\r\ntwo\r\nLXC_MSG_002\r\n", "LXC_MSG_001",
       "TS00001-E:one\ntwo"},
      {"a line of 4095 characters fits", "LXC_MSG_001\nTS00001-E:" + x4085 + "\n", "LXC_MSG_001",
       "TS00001-E:" + x4085},
      {"a text of 4095 characters fits",
       "LXC_MSG_001\nTS00001-E:" + std::string(2037, 'a') + "\n" + std::string(2047, 'b') + "\n", "LXC_MSG_001",
       "TS00001-E:" + std::string(2037, 'a') + "\n" + std::string(2047, 'b')},
      {"a line of 4096 characters is refused", "LXC_MSG_001\nTS00001-E:" + x4085 + "y\n", "LXC_MSG_001", ""},
      {"a text of 4096 characters is refused",
       "LXC_MSG_001\nTS00001-E:" + std::string(2038, 'a') + "\n" + std::string(2047, 'b') + "\n", "LXC_MSG_001",
       ""},
      {"a long line is never cut into a key line",
       "LXC_MSG_002\nTS00002-E:" + x4085 + "LXC_MSG_001\nTS00001-E:smuggled\n", "LXC_MSG_001", ""},
      {"a long comment line inside an entry is dropped like any comment",
       "LXC_MSG_001\nTS00001-E:one\n#" + std::string(5000, 'c') + "\ntwo\n", "LXC_MSG_001", "TS00001-E:one\ntwo"},
      {"a long line beginning LXC_MSG_ still ends the entry",
       "LXC_MSG_001\nTS00001-E:one\nLXC_MSG_" + std::string(5000, '9') + "\ntwo\n", "LXC_MSG_001",
       "TS00001-E:one"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    install(c.catalogue);
    const lxt::RunResult r = drive({"catalogue", c.key});
    if (c.text.empty()) {
      EXPECT_EQ(r.err, "catalogue=-3 text=\n");
      expect_output(r, response("QTRM008-E", "QTRM008-E:", qtrm008_body()));
    } else {
      EXPECT_EQ(r.err, "catalogue=0 text=" + escaped(c.text) + "\n");
      EXPECT_EQ(r.out, "");
    }
  }
}

TEST_F(AdminRuntime, MissingCatalogueNamesItsFullPathWithBackslashes) {
  install(nullptr);
  const lxt::RunResult r = drive({"catalogue", "LXC_MSG_001", "msg", "500", "LXC_MSG_001", "i:3"});
  EXPECT_EQ(r.err, "catalogue=-2 text=\nmsg=-2\n");
  const std::string path = backslashed(dir_.host("inst")) + "\\lib\\lorvex.msg";
  const std::string one = response("QTRM107-E " + path, "QTRM107-E:", qtrm107_body(path));
  expect_output(r, one + one);
}

TEST_F(AdminRuntime, WrongCallsAreReportedWithTheirDetailCodes) {
  install(kCatalogue);
  const std::string sample = file("path", "a\\b");
  const lxt::RunResult r = drive({"msg", "500", "@null", "catalogue", "LXC_MSG_001", "nobuf",
                                  "msgtext", "500", "@null", "install", "nobuf", "tool", "1", "nobuf",
                                  "tool", "3", "conv", "1", "null", "conv", "3", sample});
  EXPECT_EQ(r.err,
            "msg=-5\ncatalogue=-5 text=\nmsgtext=0\ninstall=-1 path= quiet_once=0\n"
            "tool=-1 path= quiet_once=0\ntool=-1 path= quiet_once=0\nconv=-1 bytes=\n"
            "conv=-1 bytes=" + hex("a\\b") + "\n");
  auto qtrm001 = [](int detail) {
    return response("QTRM001-E " + std::to_string(detail), "QTRM001-E:", qtrm001_body(detail));
  };
  auto lxc001 = [](int detail) {
    const std::string d = std::to_string(detail);
    return response("TS00001-E " + d, "TS00001-E:", "called wrongly (" + d + ")");
  };
  expect_output(r, qtrm001(7) + qtrm001(8) + qtrm001(17) + qtrm001(11) + lxc001(15) + lxc001(14) + lxc001(13) +
                       lxc001(12));
}

// ---- message output -----------------------------------------------------------

TEST_F(AdminRuntime, MessagePagesCarryTheArgumentsInTheCommentLine) {
  struct Case {
    const char* what;
    std::string text;                // catalogue text of LXC_MSG_100
    std::vector<std::string> args;   // driver arguments
    std::string comment, body;
  } cases[] = {
      {"no placeholders", "TS00100-E:plain text", {}, "TS00100-E", "plain text"},
      {"two strings and an int", "TS00100-E:%s and %s (%d)", {"s:a", "s:b", "i:3"}, "TS00100-E a,b,3",
       "a and b (3)"},
      {"negative int, empty string", "TS00100-E:[%d][%s]", {"i:-42", "s:"}, "TS00100-E -42,", "[-42][]"},
      {"values are not escaped", "TS00100-E:%s", {"s:<b>&\""}, "TS00100-E <b>&\"", "<b>&\""},
      {"other conversions pass through", "TS00100-E:50%x %s", {"s:v"}, "TS00100-E v", "50%x v"},
      {"catalogue text of two lines keeps its LF", "TS00100-E:one %s\ntwo", {"s:x"}, "TS00100-E x",
       "one x\ntwo"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    install("LXC_MSG_100\n" + c.text + "\n");
    std::vector<std::string> argv{"msg", "500", "LXC_MSG_100"};
    argv.insert(argv.end(), c.args.begin(), c.args.end());
    const lxt::RunResult r = drive(argv);
    EXPECT_EQ(r.err, "msg=0\n");
    expect_output(r, response(c.comment, c.comment.substr(0, 9) + ":", c.body));
  }
}

TEST_F(AdminRuntime, SuccessStatusWritesWhatAnErrorStatusWrites) {
  install("LXC_MSG_601\nTS00601-I:accepted %s\n");
  const lxt::RunResult ok = drive({"msg", "200", "LXC_MSG_601", "s:x"});
  const lxt::RunResult error = drive({"msg", "500", "LXC_MSG_601", "s:x"});
  EXPECT_EQ(ok.err, "msg=0\n");
  EXPECT_EQ(ok.out, error.out);
  expect_output(ok, response("TS00601-I x", "TS00601-I:", "accepted x"));
}

TEST_F(AdminRuntime, TextsThatAreNoMessagesAreRefused) {
  struct Case {
    const char* what;
    std::string catalogue;
    std::vector<std::string> argv;
    std::string report;
  } cases[] = {
      {"text shorter than its identifier", "LXC_MSG_100\nshort\n", {"msg", "500", "LXC_MSG_100"}, "msg=-3\n"},
      {"formatting gives no characters", "LXC_MSG_100\n%s\n", {"msg", "500", "LXC_MSG_100", "s:"}, "msg=-3\n"},
      {"key missing", "LXC_MSG_100\nTS00100-E:x\n", {"msg", "500", "LXC_MSG_101"}, "msg=-3\n"},
      // A key longer than a key may be must not match an entry by its first
      // 36 characters.
      {"key of 37 characters", "LXC_MSG_" + std::string(28, '1') + "\nTS00100-E:x\n",
       {"msg", "500", "LXC_MSG_" + std::string(29, '1')}, "msg=-3\n"},
      // A built-in text formatted beyond 4095 characters is not cut.
      {"formatted text of 4096 characters", kCatalogue,
       {"msgtext", "500", "TS00100-E:%s", "s:" + std::string(4086, 'x')}, "msgtext=-3\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    install(c.catalogue);
    const lxt::RunResult r = drive(c.argv);
    EXPECT_EQ(r.err, c.report);
    expect_output(r, response("QTRM008-E", "QTRM008-E:", qtrm008_body()));
  }
  // One character less fits whole.
  const std::string x4085(4085, 'x');
  const lxt::RunResult fits = drive({"msgtext", "500", "TS00100-E:%s", "s:" + x4085});
  EXPECT_EQ(fits.err, "msgtext=0\n");
  expect_output(fits, response("TS00100-E " + x4085, "TS00100-E:", x4085));
}

TEST_F(AdminRuntime, ShiftJisTextsAndArgumentsPassUnchanged) {
  install(kCatalogue);
  // A text with the placeholder, and an argument, that hold a kanji whose
  // trail byte is a backslash: both come through files.
  const std::string text = sjis("QTRM107-E:メッセージファイル (%s) がオープンできません。Lorvexの環境を見直してください。");
  const std::string arg = "C:\\" + kTable + "\\lib\\lorvex.msg";
  const lxt::RunResult r = drive({"msgtext", "500", "@file=" + file("text", text), "f:" + file("arg", arg)});
  EXPECT_EQ(r.err, "msgtext=0\n");
  expect_output(r, response("QTRM107-E " + arg, "QTRM107-E:", qtrm107_body(arg)));
}

// ---- registry -------------------------------------------------------------------

TEST_F(AdminRuntime, InstallPathGetsSlashesAndKeepsDoubleByteCharacters) {
  // The key's name in other letter case is the same key.
  const std::string path = "C:\\Lorvex\\" + kTable + "\\" + kTable + "x\\inst";
  registry("[HKEY_LOCAL_MACHINE\\software\\velmora\\MOXA3R\\0201/a\\pathname]\n\"Path00\"=" + reg_string(path) +
           "\n");
  const lxt::RunResult r = drive({"install"});
  EXPECT_EQ(r.err, "install=0 path=" + escaped("C:/Lorvex/" + kTable + "/" + kTable + "x/inst") +
                       " quiet_once=0\n");
  EXPECT_EQ(r.out, "");
}

TEST_F(AdminRuntime, InstallPathMissingOrEmptyIsReported) {
  const std::string long_data(257, 'L');
  struct Case {
    const char* what;
    std::string keys;
  } cases[] = {
      {"no key", ""},
      {"no value", section(kPathNameKey) + "\"Other\"=\"C:\\\\x\"\n"},
      {"zero-length data", section(kPathNameKey) + "\"Path00\"=hex:\n"},
      {"empty string", section(kPathNameKey) + "\"Path00\"=\"\"\n"},
      {"value name in other case", section(kPathNameKey) + "\"path00\"=\"C:\\\\x\"\n"},
      // Enumeration stops at data too long for the buffers; the name sorts
      // first under Wine as well as in file order.
      {"after a value too long", section(kPathNameKey) + "\"Before\"=\"" + long_data + "\"\n\"Path00\"=\"C:\\\\x\"\n"},
      {"value too long itself", section(kPathNameKey) + "\"Path00\"=\"" + long_data + "\"\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    registry(c.keys);
    const lxt::RunResult r = drive({"install"});
    EXPECT_EQ(r.err, "install=-2 path= quiet_once=0\n");
    expect_output(r, response(std::string("QTRM109-E ") + kRoot + "," + kPathNameKey + ",Path00", "QTRM109-E:",
                              qtrm109_body(kPathNameKey, "Path00")));
  }
}

TEST_F(AdminRuntime, ValuesUpToTheBufferSizeAreRead) {
  const std::string longest(256, 'p');
  registry(section(kPathNameKey) + "\"Before\"=\"" + std::string(256, 'b') + "\"\n\"Path00\"=\"" + longest + "\"\n");
  const lxt::RunResult r = drive({"install", "regvalue", kPathNameKey, "Before"});
  EXPECT_EQ(r.err, "install=0 path=" + longest + " quiet_once=0\nregvalue=" + std::string(256, 'b') + "\n");
  EXPECT_EQ(r.out, "");
}

TEST_F(AdminRuntime, ToolPathsAndTheirFailures) {
  const std::string perl = "C:\\Perl\\" + kTable + "\\bin\\perl.exe";
  struct Case {
    const char* what;
    std::string env_info;  // lines of the EnvInfo key; empty: no key
    int kind;
    std::string report;
    std::string output;  // expected responses
  } cases[] = {
      {"Perl with slashes", "\"PerlPath\"=" + reg_string(perl) + "\n", 1,
       "tool=0 path=" + escaped("C:/Perl/" + kTable + "/bin/perl.exe") + " quiet_once=0\n", ""},
      {"gzip", "\"PerlPath\"=\"x\"\n\"GzipPath\"=\"C:\\\\gzip.exe\"\n", 2, "tool=0 path=C:/gzip.exe quiet_once=0\n",
       ""},
      {"empty GzipPath", "\"GzipPath\"=\"\"\n", 2, "tool=-1 path= quiet_once=0\n",
       response("TS00613-E", "TS00613-E:", "GzipPath is empty")},
      {"empty PerlPath is silent", "\"PerlPath\"=\"\"\n", 1, "tool=-1 path= quiet_once=0\n", ""},
      {"PerlPath of zero-length data", "\"PerlPath\"=hex:\n", 1, "tool=-2 path= quiet_once=0\n",
       response(std::string("QTRM109-E ") + kRoot + "," + kEnvInfoKey + ",PerlPath", "QTRM109-E:",
                qtrm109_body(kEnvInfoKey, "PerlPath"))},
      {"GzipPath missing", "\"PerlPath\"=\"x\"\n", 2, "tool=-2 path= quiet_once=0\n",
       response(std::string("QTRM109-E ") + kRoot + "," + kEnvInfoKey + ",GzipPath", "QTRM109-E:",
                qtrm109_body(kEnvInfoKey, "GzipPath"))},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    install(kCatalogue, c.env_info);
    const lxt::RunResult r = drive({"tool", std::to_string(c.kind)});
    EXPECT_EQ(r.err, c.report);
    expect_output(r, c.output);
  }
}

TEST_F(AdminRuntime, QuietOnceSilencesOneLookupAndIsReset) {
  install(kCatalogue, "\"GzipPath\"=\"\"\n");
  const std::string sample = file("path", "a\\b");
  const std::string missing_perl = response(std::string("QTRM109-E ") + kRoot + "," + kEnvInfoKey + ",PerlPath",
                                            "QTRM109-E:", qtrm109_body(kEnvInfoKey, "PerlPath"));
  // Silent and reset; the next lookup reports again.
  lxt::RunResult r = drive({"quiet", "1", "tool", "1", "tool", "1"});
  EXPECT_EQ(r.err, "tool=-2 path= quiet_once=0\ntool=-2 path= quiet_once=0\n");
  expect_output(r, missing_perl);
  r = drive({"quiet", "1", "tool", "2", "quiet", "1", "tool", "7", "quiet", "1", "tool", "1", "nobuf"});
  EXPECT_EQ(r.err, "tool=-1 path= quiet_once=0\ntool=-1 path= quiet_once=0\ntool=-1 path= quiet_once=0\n");
  EXPECT_EQ(r.out, "");
  // read_reg_value and conv_path_sep keep the flag: the install lookup after
  // them is still silent, and resets it.
  r = drive({"quiet", "1", "regvalue", kEnvInfoKey, "PerlPath", "conv", "5", sample, "conv", "1", "null",
             "install", "nobuf", "install", "nobuf"});
  EXPECT_EQ(r.err,
            "regvalue=null\nconv=-1 bytes=" + hex("a\\b") +
                "\nconv=-1 bytes=\ninstall=-1 path= quiet_once=0\ninstall=-1 path= quiet_once=0\n");
  expect_output(r, response("QTRM001-E 11", "QTRM001-E:", qtrm001_body(11)));
}

TEST_F(AdminRuntime, SeparatorSwapNeverTouchesATrailByte) {
  install(kCatalogue);
  // 表 ends in 0x5C; the half-width katakana 0xB1 is a single byte, so the
  // backslash after it is a separator.
  const std::string path = "C:\\a/" + kTable + "\\" + kTable + "/\xB1\\x\\";
  const lxt::RunResult r = drive({"conv", "1", file("one", path), "conv", "2", file("two", path), "conv", "1",
                                  file("empty", "")});
  EXPECT_EQ(r.err, "conv=0 bytes=" + hex("C:/a/" + kTable + "/" + kTable + "/\xB1/x/") + "\n" +
                       "conv=0 bytes=" + hex("C:\\a\\" + kTable + "\\" + kTable + "\\\xB1\\x\\") + "\n" +
                       "conv=0 bytes=\n");
  EXPECT_EQ(r.out, "");
}

}  // namespace
