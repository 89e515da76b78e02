#include "admin/common/tool_word.h"

#include "admin/common/command_line.h"
#include "admin/common/registry_settings.h"

static_assert(kToolPathSize >= kRegPathSize);

int tool_word(int kind, const char* fallback, char* out, std::size_t size) {
  char path[kToolPathSize] = {};
  quiet_once = 1;
  if (get_tool_path(kind, path) != 0) {
    return quote_path(fallback, out, size);
  }
  conv_path_sep(path, SEP_TO_BACKSLASH);
  // The tools' words go into the interpreter's lines.
  if (const int refused = check_line_value(path)) return refused;
  return quote_path(path, out, size);
}
