// The harness's files: the test's temporary folder, whole-file reads and
// writes, and text in other encodings.
#include <iconv.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "tests/programs/harness.h"

namespace lxt {
namespace fs = std::filesystem;

// ---- files -----------------------------------------------------------------

TempDir::TempDir() {
  const char* tmp = std::getenv("TMPDIR");
  const std::string base = tmp != nullptr && *tmp != '\0' ? tmp : "/tmp";
  std::string templ = base + "/lxt-XXXXXX";
  std::vector<char> buf(templ.begin(), templ.end());
  buf.push_back('\0');
  if (!::mkdtemp(buf.data())) throw std::runtime_error("mkdtemp failed in " + base);
  path_ = buf.data();
}

TempDir::~TempDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string TempDir::host(const std::string& name) const {
  return name.empty() ? host_path(path_) : host_path(file(name));
}

void TempDir::write(const std::string& name, const std::string& bytes) const {
  write_file(file(name), bytes);
}

std::string TempDir::read(const std::string& name) const { return read_file(file(name)); }

bool TempDir::exists(const std::string& name) const {
  std::error_code ec;
  return fs::exists(file(name), ec);
}

void TempDir::mkdir(const std::string& name) const { fs::create_directories(file(name)); }

std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return {};
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

void write_file(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  if (!out) throw std::runtime_error("cannot write " + path);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

std::string convert(const std::string& text, const char* to, const char* from) {
  iconv_t cd = ::iconv_open(to, from);
  if (cd == reinterpret_cast<iconv_t>(-1)) {
    throw std::runtime_error(std::string("no converter from ") + from + " to " + to);
  }
  std::string in = text;
  std::string out(in.size() * 4 + 4, '\0');  // room for the widest of them
  char* in_at = in.data();
  size_t in_left = in.size();
  char* out_at = out.data();
  size_t out_left = out.size();
  const size_t rc = ::iconv(cd, &in_at, &in_left, &out_at, &out_left);
  ::iconv_close(cd);
  if (rc == static_cast<size_t>(-1)) throw std::runtime_error(std::string("not convertible to ") + to + ": " + text);
  out.resize(out.size() - out_left);
  return out;
}

std::vector<std::pair<std::string, std::string>> saved_as_unicode(const std::string& text) {
  const std::string utf8 = convert(text, "UTF-8", "CP932");
  return {{"\xEF\xBB\xBF" + utf8, "UTF-8"},
          {"\xFF\xFE" + convert(text, "UTF-16LE", "CP932"), "UTF-16"},
          {"\xFE\xFF" + convert(text, "UTF-16BE", "CP932"), "UTF-16"}};
}

std::string lf(const std::string& text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
    out += text[i];
  }
  return out;
}

std::string install_double(const std::string& double_name, const std::string& dir,
                           const std::string& as_name) {
  const std::string to = dir + "/" + exe_name(as_name);
  fs::copy_file(double_path(double_name), to, fs::copy_options::overwrite_existing);
  fs::permissions(to, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                          fs::perms::others_read | fs::perms::others_exec);
  return to;
}

}  // namespace lxt
