#include "multicall/dispatch.h"

#include "port/posix/started_as.h"

namespace multicall {

namespace {

std::string_view base_name(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

}  // namespace

const Program* find_program(std::string_view started_path, std::span<const Program> programs) {
  const std::string_view name = base_name(started_path);
  for (const Program& program : programs) {
    if (port::posix::names_program(name, program.name)) return &program;
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
