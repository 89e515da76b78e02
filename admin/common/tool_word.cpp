#include "admin/common/tool_word.h"

#include "admin/common/command_line.h"
#include "admin/common/registry_settings.h"

static_assert(kToolPathSize >= kRegPathSize);

int tool_word(int kind, const char* fallback, char* out, std::size_t size, std::string* program) {
  char path[kToolPathSize] = {};
  quiet_once = 1;
  const bool configured = get_tool_path(kind, path) == 0;
  if (configured) conv_path_sep(path, SEP_TO_BACKSLASH);
  const char* word = configured ? path : fallback;
  if (program != nullptr) *program = word;
  return quote_path(word, out, size);
}
