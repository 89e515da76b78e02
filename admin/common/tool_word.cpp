#include "admin/common/tool_word.h"

#include "admin/common/command_line.h"

std::optional<std::string> configured_tool(installation::Tool tool) {
  auto path = installation::tool_path(tool, installation::Quiet::kYes);
  if (path) installation::swap_separators(path->data(), '/', '\\');
  return path;
}

int tool_word(installation::Tool tool, const char* fallback, char* out, std::size_t size, std::string* program) {
  const auto path = configured_tool(tool);
  const char* word = fallback;
  if (path) {
    // The tools' words go into the interpreter's lines.
    if (const int refused = check_line_value(path->c_str())) return refused;
    word = path->c_str();
  }
  if (program != nullptr) *program = word;
  return quote_path(word, out, size);
}
