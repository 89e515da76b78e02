// The harness: the system installed in a test's folder.
#include "tests/programs/harness.h"

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

namespace lxt {
namespace fs = std::filesystem;

// ---- a test installation ------------------------------------------------------

const char kTestCatalogue[] =
    "# test catalogue\n"
    "LXC_MSG_001\nLXCM001-E:wrong use (detail %d)\n"
    "LXC_MSG_002\nLXCM002-E:%s failed (%d)\n"
    "LXC_MSG_003\nLXCM003-E:no memory\n"
    "LXC_MSG_016\nLXCM016-E:the cycle lock is held\n"
    "LXC_MSG_019NT\nLXCM019-E:the search service is not started\n"
    "LXC_MSG_020NT\nLXCM020-E:time-out\n"
    "LXC_MSG_021\nLXCM021-E:cannot create %s (errno %d)\n"
    "LXC_MSG_022\nLXCM022-E:cannot remove %s (errno %d)\n"
    "LXC_MSG_601\nLXCM601-I:notice accepted\n"
    "LXC_MSG_610\nLXCM610-I:notice answered\n";

Installation::Installation(const TempDir& dir, const std::string& root)
    : dir_(dir), root_(root.empty() ? "" : root + "/") {}

std::string Installation::file(const std::string& name) const { return dir_.file(root_ + name); }
std::string Installation::path() const { return host_path(file("inst")); }
std::string Installation::tools_dir() const { return file("tools"); }
std::string Installation::tool(const std::string& name) const { return host_join(tools_dir(), exe_name(name)); }

std::string Installation::command_port(int port) { return "\"CgiPortNo\"=" + reg_dword(port) + "\n"; }

void Installation::write_catalogue(const std::string& text) const {
  fs::create_directories(file("inst/lib"));
  write_file(file("inst/lib/lorvex.msg"), text);
}

void Installation::install_tools(const std::vector<std::string>& names) const {
  fs::create_directories(tools_dir());
  for (const std::string& name : names) install_double("lxrecord", tools_dir(), name);
}

}  // namespace lxt
