// htmlloose (stand-in, also built as htmlloose_SJIS): the HTML summarizer
// that htmlsift starts. "htmlloose [--body-text] FILE" writes the text of the
// page with its tags stripped: the title on a line of its own and then the
// body text, or with --body-text the body text alone. The contents of
// scripts, style sheets and comments are no text; the common character
// references are decoded, runs of white space become one blank. The bytes
// are passed as they are (a Shift_JIS page stays Shift_JIS).
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "kestrel/templates.h"

namespace {

void usage() { std::fputs("Usage: htmlloose [--body-text] FILE\n", stderr); }

std::string lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// The name of the tag that begins at `at` ("<name ...>" or "</name>"),
// lower-cased, with a leading "/" for an end tag.
std::string tag_name(const std::string& html, std::size_t at) {
  std::size_t i = at + 1;
  std::string name;
  if (i < html.size() && html[i] == '/') name += html[i++];
  while (i < html.size() && std::isalnum(static_cast<unsigned char>(html[i]))) name += html[i++];
  return lower(name);
}

struct Entity {
  std::string_view name;
  char text;
};
constexpr Entity kEntities[] = {{"amp", '&'}, {"lt", '<'}, {"gt", '>'}, {"quot", '"'}, {"apos", '\''}, {"nbsp", ' '}};

// Collects text, one blank for each run of white space.
class Text {
 public:
  void add(char c) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      blank_ = !out_.empty();
      return;
    }
    if (blank_) out_ += ' ';
    blank_ = false;
    out_ += c;
  }
  void gap() { blank_ = !out_.empty(); }
  const std::string& str() const { return out_; }

 private:
  std::string out_;
  bool blank_ = false;
};

// The text of the page: its title, and its body (everything outside the head
// when the page has no body tag).
void strip(const std::string& html, Text* title, Text* body) {
  bool in_head = false;
  bool in_title = false;
  std::size_t i = 0;
  while (i < html.size()) {
    if (html.compare(i, 4, "<!--") == 0) {
      const std::size_t end = html.find("-->", i + 4);
      i = end == std::string::npos ? html.size() : end + 3;
      continue;
    }
    if (html[i] == '<' && i + 1 < html.size() &&
        (std::isalpha(static_cast<unsigned char>(html[i + 1])) || html[i + 1] == '/' || html[i + 1] == '!')) {
      const std::string name = tag_name(html, i);
      std::size_t end = html.find('>', i);
      end = end == std::string::npos ? html.size() : end + 1;
      if (name == "script" || name == "style") {
        const std::size_t close = lower(html.substr(end)).find("</" + name);
        end = close == std::string::npos ? html.size() : html.find('>', end + close);
        end = end == std::string::npos ? html.size() : end + 1;
      } else if (name == "head") {
        in_head = true;
      } else if (name == "/head" || name == "body") {
        in_head = false;
      } else if (name == "title") {
        in_title = true;
      } else if (name == "/title") {
        in_title = false;
      }
      // A tag separates words, as the browser's line breaks and cells do.
      body->gap();
      i = end;
      continue;
    }
    char c = html[i++];
    if (c == '&') {
      for (const Entity& entity : kEntities) {
        if (html.compare(i, entity.name.size(), entity.name) == 0 && i + entity.name.size() < html.size() &&
            html[i + entity.name.size()] == ';') {
          c = entity.text;
          i += entity.name.size() + 1;
          break;
        }
      }
    }
    if (in_title) {
      title->add(c);
    } else if (!in_head) {
      body->add(c);
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  bool body_only = false;
  const char* path = nullptr;
  if (!kestrel::flag_and_file(argc, argv, "--body-text", &body_only, &path)) {
    usage();
    return 2;
  }
  std::string html;
  if (!kestrel::read_all(path, &html)) {
    std::fprintf(stderr, "htmlloose: cannot read %s: %s\n", path, std::strerror(errno));
    return 1;
  }
  Text title;
  Text body;
  strip(html, &title, &body);
  if (!body_only && !title.str().empty()) std::printf("%s\n", title.str().c_str());
  if (!body.str().empty()) std::printf("%s\n", body.str().c_str());
  if (std::fflush(stdout) != 0) {
    std::perror("htmlloose: write");
    return 1;
  }
  return 0;
}
