#include "multicall/dispatch.h"

#include <cctype>

namespace multicall {

namespace {

std::string_view base_name(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

std::string_view without_exe(std::string_view name) {
  constexpr std::string_view kExe = ".exe";
  if (name.size() < kExe.size()) return name;
  const std::string_view tail = name.substr(name.size() - kExe.size());
  for (std::size_t i = 0; i < kExe.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(tail[i])) != kExe[i]) return name;
  }
  return name.substr(0, name.size() - kExe.size());
}

}  // namespace

const Program* find_program(std::string_view started_path, std::span<const Program> programs) {
  const std::string_view name = without_exe(base_name(started_path));
  for (const Program& program : programs) {
    if (name == program.name) return &program;
  }
  return nullptr;
}

std::string usage_line(std::string_view started_path, std::span<const Program> programs) {
  std::string line = "Usage: PROGRAM [ARGUMENT...], started by a link named as one of:";
  for (const Program& program : programs) {
    line += ' ';
    line += program.name;
  }
  line += " (started as \"";
  line += base_name(started_path);
  line += "\")\n";
  return line;
}

}  // namespace multicall
