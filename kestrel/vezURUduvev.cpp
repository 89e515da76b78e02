// vezURUduvev (stand-in): the product's document filter, which the
// document-filter summarizers start. "vezURUduvev [--body-only] FILE" writes
// the text of an office or print document, one line per run of text. Not a
// reader of the real formats: the text is what the file holds as text, runs
// of at least four printable characters (ASCII or whole Shift_JIS
// characters). With --body-only it is the text of the document's string
// literals, "(...)" with "\" escapes, which is where a print document keeps
// the words of its pages; a file without any gives its runs as above.
//
// It reads only documents that are text through and through (printable
// ASCII, blanks and line ends, whole Shift_JIS characters), as the demo's
// are. In any other document (compressed page streams, binary records) runs
// of text would be chance bytes, and a trial with real documents would
// mislead: such a document goes to a real converter where one is installed
// (pdftotext from Debian's poppler-utils, for PDF; its text as it writes it),
// and otherwise the filter says that it has no converter for the type and
// writes no text.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "kestrel/templates.h"
#include "port/process.h"
#include "port/text.h"

namespace {

constexpr std::size_t kShortestRun = 4;

void usage() { std::fputs("Usage: vezURUduvev [--body-only] FILE\n", stderr); }

bool printable(unsigned char byte) { return byte >= 0x20 && byte < 0x7F; }
bool trail_byte(unsigned char byte) { return byte >= 0x40 && byte <= 0xFC && byte != 0x7F; }

// The runs of text of the bytes, in order.
std::vector<std::string> text_runs(const std::string& bytes) {
  std::vector<std::string> runs;
  std::string run;
  auto end_run = [&] {
    if (run.size() >= kShortestRun) runs.push_back(run);
    run.clear();
  };
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (printable(byte)) {
      run += bytes[i];
    } else if (port::is_lead_byte(byte) && i + 1 < bytes.size() &&
               trail_byte(static_cast<unsigned char>(bytes[i + 1]))) {
      run += bytes.substr(i++, 2);
    } else {
      end_run();
    }
  }
  end_run();
  return runs;
}

// The contents of the string literals, escapes resolved; nested parentheses
// belong to the string.
std::vector<std::string> string_literals(const std::string& bytes) {
  std::vector<std::string> literals;
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    if (bytes[i] != '(') continue;
    std::string literal;
    int depth = 1;
    for (++i; i < bytes.size(); ++i) {
      const char c = bytes[i];
      if (c == '\\' && i + 1 < bytes.size()) {
        const char escaped = bytes[++i];
        literal += escaped == 'n' ? '\n' : escaped == 't' ? '\t' : escaped;
        continue;
      }
      if (c == '(') ++depth;
      if (c == ')' && --depth == 0) break;
      literal += c;
    }
    for (const std::string& run : text_runs(literal)) literals.push_back(run);
  }
  return literals;
}

// Whether the filter reads the document itself: nothing but text in it.
bool text_through(const std::string& bytes) {
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (printable(byte) || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f') continue;
    if (port::is_lead_byte(byte) && i + 1 < bytes.size() && trail_byte(static_cast<unsigned char>(bytes[i + 1]))) {
      ++i;
      continue;
    }
    return false;
  }
  return true;
}

// The document's type, by its first bytes, and the converter for it (null
// where there is none).
struct DocumentType {
  const char* magic;
  const char* name;
  const char* converter;
};
constexpr DocumentType kTypes[] = {
    {"%PDF-", "PDF", "pdftotext"},
    {"\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", "compound (Word, Excel, PowerPoint)", nullptr},
    {"PK\x03\x04", "zip (Office Open XML, OpenDocument)", nullptr},
};

// Hands the document to its converter, whose text goes straight to standard
// output. The filter's status: the converter's, or 1 when there is none.
int convert(const std::string& bytes, const char* path) {
  const DocumentType* type = nullptr;
  for (const DocumentType& candidate : kTypes) {
    if (bytes.compare(0, std::strlen(candidate.magic), candidate.magic) == 0) type = &candidate;
  }
  const char* name = type != nullptr ? type->name : "this type of";
  if (type == nullptr || type->converter == nullptr || port::find_program(type->converter) != 0 ||
      std::strchr(path, '"') != nullptr) {
    std::fprintf(stderr, "vezURUduvev: no converter for %s documents: %s\n", name, path);
    return 1;
  }
  // -q: the converter's complaints about a damaged document are no text.
  const std::string command = std::string(type->converter) + " -q -nopgbrk \"" + path + "\" -";
  std::fflush(stdout);
  int start_error = 0;
  const int status = port::run_child(command.c_str(), port::ChildOptions{}, &start_error);
  if (status != 0) {
    std::fprintf(stderr, "vezURUduvev: %s could not read %s (status %d)\n", type->converter, path, status);
    return 1;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  bool body_only = false;
  const char* path = nullptr;
  if (!kestrel::flag_and_file(argc, argv, "--body-only", &body_only, &path)) {
    usage();
    return 2;
  }
  std::string bytes;
  if (!kestrel::read_all(path, &bytes)) {
    std::fprintf(stderr, "vezURUduvev: cannot read %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  if (!text_through(bytes)) return convert(bytes, path);
  std::vector<std::string> text = body_only ? string_literals(bytes) : std::vector<std::string>{};
  if (text.empty()) text = text_runs(bytes);
  for (const std::string& line : text) std::printf("%s\n", line.c_str());
  if (std::fflush(stdout) != 0) {
    std::perror("vezURUduvev: write");
    return 1;
  }
  return 0;
}
