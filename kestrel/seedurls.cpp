// seedurls (stand-in): passes the URLs of its standard input that look like
// something a gatherer could fetch to its standard output, one a line: a
// network URL, or a file URL of this machine ("file:///PATH" or
// "file://localhost/PATH").
#include <cctype>
#include <cstdio>
#include <iostream>
#include <string>
#include <string_view>

namespace {

// Longer lines are refused rather than cut into a URL that was never given.
constexpr std::size_t kMaxUrl = 2048;

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

// No blank or control character anywhere; a file URL with a path, or a
// network scheme we gather and a host of letters, digits, dots and hyphens
// (with an optional port).
bool looks_like_url(std::string_view url) {
  for (unsigned char c : url) {
    if (c <= ' ' || c == 0x7F) return false;
  }
  for (std::string_view local : {"file:///", "file://localhost/"}) {
    if (starts_with_nocase(url, local)) return url.size() > local.size();
  }
  std::size_t host = 0;
  for (std::string_view scheme : {"http://", "https://", "ftp://"}) {
    if (starts_with_nocase(url, scheme)) host = scheme.size();
  }
  if (host == 0) return false;
  std::size_t end = host;
  while (end < url.size() && (std::isalnum(static_cast<unsigned char>(url[end])) || url[end] == '.' ||
                              url[end] == '-')) {
    ++end;
  }
  if (end == host) return false;
  if (end < url.size() && url[end] == ':') {
    const std::size_t digits = ++end;
    while (end < url.size() && std::isdigit(static_cast<unsigned char>(url[end]))) ++end;
    if (end == digits) return false;
  }
  return end == url.size() || url[end] == '/' || url[end] == '?';
}

}  // namespace

int main() {
  int passed = 0;
  int skipped = 0;
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#') continue;
    if (line.size() > kMaxUrl) {
      std::fprintf(stderr, "seedurls: skipped a line of %zu characters (at most %zu)\n", line.size(), kMaxUrl);
      ++skipped;
    } else if (looks_like_url(line)) {
      std::cout << line << '\n';
      ++passed;
    } else {
      ++skipped;
    }
  }
  std::cout.flush();
  std::fprintf(stderr, "seedurls: passed %d URLs, skipped %d lines\n", passed, skipped);
  return 0;
}
