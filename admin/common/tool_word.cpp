#include "admin/common/tool_word.h"

#include "admin/common/command_line.h"
#include "admin/common/registry_settings.h"

static_assert(kToolPathSize >= kRegPathSize);

int tool_word(int kind, const char* fallback, char* out, std::size_t size, std::string* program) {
  char path[kToolPathSize] = {};
  quiet_once = 1;
  const bool configured = get_tool_path(kind, path) == 0;
  const char* word = fallback;
  if (configured) {
    conv_path_sep(path, SEP_TO_BACKSLASH);
    // The tools' words go into the interpreter's lines.
    if (const int refused = check_line_value(path)) return refused;
    word = path;
  }
  if (program != nullptr) *program = word;
  return quote_path(word, out, size);
}
