// essence (stand-in): the summarizing engine. Reads URLs on its standard
// input and appends one small template per URL to WORKING.gdbm in the data
// directory it is given (plain text here: the real database format belongs
// to the framework).
//
// Remote URLs are not fetched: their templates hold the time stamp only.
// A local document is named by a file URL, "file:///PATH" or
// "file://localhost/PATH" ("file:///C:/dir/doc.html" names "C:/dir/doc.html";
// %XX escapes are decoded), or "file:PATH" for a path relative to the
// current directory. Its type, told by the name's ending, picks one of the
// system's summarizers, which is started by the normal program search with
// the document's path; what it writes is the template's Summary, folded to
// one line. A document that is not there gets no template; one of a type
// without summarizer, or whose summarizer fails, gets one without Summary.
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <iostream>
#include <string>
#include <string_view>

#include "kestrel/templates.h"
#include "port/file.h"
#include "port/process.h"
#include "port/stream.h"
#include "port/text.h"

namespace {

constexpr std::size_t kMaxUrl = 2048;
// A summary is cut here (never inside a character).
constexpr std::size_t kMaxSummary = 4096;

struct Summarizer {
  std::string_view ending;  // lower case, with the dot
  const char* program;
  const char* type;
};

constexpr Summarizer kSummarizers[] = {
    {".html", "htmlsift", "HTML"},          {".htm", "htmlsift", "HTML"},         {".1", "skim", "ManPage"},
    {".2", "skim", "ManPage"},              {".3", "skim", "ManPage"},            {".4", "skim", "ManPage"},
    {".5", "skim", "ManPage"},              {".6", "skim", "ManPage"},            {".7", "skim", "ManPage"},
    {".8", "skim", "ManPage"},              {".9", "skim", "ManPage"},            {".man", "skim", "ManPage"},
    {".ms", "skim", "Troff"},               {".me", "skim", "Troff"},             {".roff", "skim", "Troff"},
    {".tr", "skim", "Troff"},               {".pdf", "pdfsift", "PDF"},           {".doc", "wordsift", "Word"},
    {".rtf", "rtfsift", "RTF"},             {".ppt", "ppointsift", "PowerPoint"}, {".jtd", "ichitarosift", "Ichitaro"},
    {".123", "lotus123sift", "Lotus123"},   {".wri", "writesift", "Write"},       {".prz", "freelancesift", "Freelance"},
};

const Summarizer* summarizer_for(const std::string& path) {
  const std::size_t dot = path.rfind('.');
  if (dot == std::string::npos || path.find_first_of("/\\", dot) != std::string::npos) return nullptr;
  std::string ending = path.substr(dot);
  for (char& c : ending) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const Summarizer& entry : kSummarizers) {
    if (entry.ending == ending) return &entry;
  }
  return nullptr;
}

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

enum class Local { kNo, kPath, kRefused };

// The path a file URL names. Refused: another host, a bad escape, or a byte
// that a command line would split or change (blanks, quotes, control
// characters): the summarizers pass the path on unquoted.
Local local_path(const std::string& url, std::string* path) {
  if (!starts_with_nocase(url, "file:")) return Local::kNo;
  std::string rest = url.substr(5);
  if (rest.starts_with("//")) {
    const std::size_t slash = rest.find('/', 2);
    const std::string host = rest.substr(2, slash == std::string::npos ? std::string::npos : slash - 2);
    const bool local_host = host.empty() || (host.size() == 9 && starts_with_nocase(host, "localhost"));
    if (slash == std::string::npos || !local_host) return Local::kRefused;
    rest = rest.substr(slash);
    // A drive letter follows the slash of the URL's path.
    if (rest.size() >= 3 && std::isalpha(static_cast<unsigned char>(rest[1])) && rest[2] == ':') rest.erase(0, 1);
  }
  path->clear();
  for (std::size_t i = 0; i < rest.size(); ++i) {
    char c = rest[i];
    if (c == '%') {
      const int high = i + 2 < rest.size() ? hex_digit(rest[i + 1]) : -1;
      const int low = high < 0 ? -1 : hex_digit(rest[i + 2]);
      if (low < 0) return Local::kRefused;
      c = static_cast<char>(high * 16 + low);
      i += 2;
    }
    const auto byte = static_cast<unsigned char>(c);
    if (byte <= ' ' || byte == 0x7F || c == '"') return Local::kRefused;
    *path += c;
  }
  return path->empty() ? Local::kRefused : Local::kPath;
}

// The summarizer's output as one line of text: white space runs and control
// characters become one blank; at most kMaxSummary bytes.
std::string fold(const std::string& text) {
  std::string out;
  bool blank = false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const auto byte = static_cast<unsigned char>(text[i]);
    if (byte <= ' ' || byte == 0x7F) {
      blank = !out.empty();
      continue;
    }
    const std::size_t width = port::is_lead_byte(byte) && i + 1 < text.size() ? 2 : 1;
    if (out.size() + (blank ? 1 : 0) + width > kMaxSummary) break;
    if (blank) out += ' ';
    blank = false;
    out.append(text, i, width);
    i += width - 1;
  }
  return out;
}

void report_start_failure(const char* program, int start_error) {
  std::fprintf(stderr, "essence: cannot start %s: %s\n", program, std::strerror(port::start_error_errno(start_error)));
}

// Runs the summarizer on the document with its output going into the file
// `scratch`; true with the summary when it ran and ended with 0.
bool summarize(const Summarizer& summarizer, const std::string& document, const std::string& scratch,
               std::string* summary) {
  const std::string command = std::string(summarizer.program) + " " + document;
  port::ChildOptions options;
  options.new_process_group = false;
  options.output_path = scratch.c_str();
  int start_error = 0;
  const int status = port::run_child(command.c_str(), options, &start_error);
  std::string output;
  const bool read = status == 0 && kestrel::read_all(scratch.c_str(), &output);
  port::remove_file(scratch.c_str());
  if (status == -1 && start_error != 0) {
    report_start_failure(summarizer.program, start_error);
    return false;
  }
  if (status != 0) {
    std::fprintf(stderr, "essence: %s ended with %d on %s\n", summarizer.program, status, document.c_str());
    return false;
  }
  if (!read) {
    std::fprintf(stderr, "essence: cannot read the summary of %s\n", document.c_str());
    return false;
  }
  *summary = fold(output);
  return true;
}

void usage() { std::fputs("essence: usage: essence --dbdir DIRECTORY\n", stderr); }

// Appends the name with the directory's own separator, so that a Windows
// path stays one; none when the directory ends in one already (a trail byte
// of a Shift_JIS character is no separator).
std::string join(const std::string& dir, const char* name) {
  bool ends_in_separator = false;
  for (std::size_t i = 0; i < dir.size(); ++i) {
    const auto byte = static_cast<unsigned char>(dir[i]);
    ends_in_separator = byte == '/' || byte == '\\';
    if (port::is_lead_byte(byte) && i + 1 < dir.size()) ++i;
  }
  if (ends_in_separator) return dir + name;
  const char sep = dir.find('/') != std::string::npos ? '/' : '\\';
  return dir + sep + name;
}

// The template of one URL, or false (after a line) when it is skipped.
bool template_of(const std::string& url, const std::string& scratch, const std::string& stamp, std::string* text) {
  if (url.size() > kMaxUrl) {
    std::fprintf(stderr, "essence: skipped a URL of %zu characters (at most %zu)\n", url.size(), kMaxUrl);
    return false;
  }
  // A template: the URL, then attributes as Name{length}: value.
  std::string attributes;
  std::string document;
  const Local local = local_path(url, &document);
  if (local == Local::kRefused) {
    std::fprintf(stderr, "essence: skipped %s: not a local document path that can be summarized\n", url.c_str());
    return false;
  }
  if (local == Local::kPath) {
    port::FileInfo info;
    if (port::file_stat(document.c_str(), &info) != 0 || !info.is_regular) {
      std::fprintf(stderr, "essence: skipped %s: no such document\n", url.c_str());
      return false;
    }
    const Summarizer* summarizer = summarizer_for(document);
    std::string summary;
    if (summarizer != nullptr) {
      attributes += "Type{" + std::to_string(std::strlen(summarizer->type)) + "}:\t" + summarizer->type + "\n";
      if (summarize(*summarizer, document, scratch, &summary)) {
        attributes += "Summary{" + std::to_string(summary.size()) + "}:\t" + summary + "\n";
        std::fprintf(stderr, "essence: %s summarized %s in %zu bytes\n", summarizer->program, url.c_str(),
                     summary.size());
      }
    }
  }
  *text = "@FILE { " + url + "\n" + attributes + "Update-Time{" + std::to_string(stamp.size()) + "}:\t" + stamp +
          "\n}\n";
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::string dbdir;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--dbdir") == 0 && i + 1 < argc) {
      dbdir = argv[++i];
    } else {
      usage();
      return 2;
    }
  }
  if (dbdir.empty()) {
    usage();
    return 2;
  }
  const std::string database = join(dbdir, "WORKING.gdbm");
  std::FILE* out = port::open_file(database.c_str(), "a");
  if (out == nullptr) {
    std::fprintf(stderr, "essence: cannot open %s: %s\n", database.c_str(), std::strerror(errno));
    return 1;
  }
  const std::string stamp = std::to_string(static_cast<long long>(std::time(nullptr)));
  const std::string scratch = join(dbdir, ("essence-" + std::to_string(port::current_pid()) + ".summary").c_str());
  int written = 0;
  std::string url;
  while (std::getline(std::cin, url)) {
    if (!url.empty() && url.back() == '\r') url.pop_back();
    std::string text;
    if (url.empty() || !template_of(url, scratch, stamp, &text)) continue;
    std::fwrite(text.data(), 1, text.size(), out);
    ++written;
  }
  if (std::fclose(out) != 0) {
    std::fprintf(stderr, "essence: cannot write %s: %s\n", database.c_str(), std::strerror(errno));
    return 1;
  }
  std::fprintf(stderr, "essence: appended %d templates to %s\n", written, database.c_str());
  return 0;
}
