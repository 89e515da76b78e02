#pragma once
// Shared helpers of the unit tests: a temporary directory that
// goes away, the syscall table put back after each test, and small file
// utilities.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <stdexcept>
#include <string>
#include <thread>

#include "port/posix/syscalls.h"

namespace port_posix_test {

class TempDir {
 public:
  TempDir() {
    std::string base = (std::filesystem::temp_directory_path() / "lorvex-port-XXXXXX").string();
    if (mkdtemp(base.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = base;
  }
  ~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::string& path() const { return path_; }
  std::string file(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Puts the real system calls back whatever a test replaced.
class SysCallsRestored : public ::testing::Test {
 protected:
  void TearDown() override { port::posix::reset_sys(); }
};

// The build's bin/ first on the search path, where "cmd.exe /C" finds the
// command interpreter; the search path is put back afterwards.
class InterpreterOnPath : public SysCallsRestored {
 protected:
  void SetUp() override {
    const char* path = std::getenv("PATH");
    saved_path_ = path ? path : "";
    setenv("PATH", (std::string(LORVEX_TEST_BIN_DIR) + ":" + saved_path_).c_str(), 1);
  }
  void TearDown() override {
    setenv("PATH", saved_path_.c_str(), 1);
    SysCallsRestored::TearDown();
  }

 private:
  std::string saved_path_;
};

inline void write_file(const std::string& path, const std::string& content) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << content;
}

inline std::string read_file(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A path written the Windows way.
inline std::string backslashed(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

// Polls a condition until it holds or the bound runs out.
inline bool wait_until(const std::function<bool()>& condition,
                       std::chrono::milliseconds bound = std::chrono::seconds(10)) {
  const auto deadline = std::chrono::steady_clock::now() + bound;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace port_posix_test
