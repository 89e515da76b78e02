#pragma once
// The installation's settings as lookups with int results into the caller's
// buffers, the names and results the programs' messages fix. They are built
// on the typed settings of installation.h, which new code uses instead.
#include "admin/common/installation.h"

// Tool kinds of get_tool_path.
constexpr int TOOL_PERL = 1;
constexpr int TOOL_GZIP = 2;
// Modes of conv_path_sep.
constexpr int SEP_TO_SLASH = 1;      // "\" becomes "/"
constexpr int SEP_TO_BACKSLASH = 2;  // "/" becomes "\"

// Output buffers of get_install_path and get_tool_path hold at least this.
constexpr int kRegPathSize = installation::kMaxValueLength + 1;

// While 1, the lookups below issue no messages; get_install_path and
// get_tool_path set it back to 0 when they return.
extern int quiet_once;

// The string of a value under HKEY_LOCAL_MACHINE\key_path, newly allocated
// (release with free), or null when the key or the value cannot be had.
char* read_reg_value(const char* key_path, const char* value_name);

// The installation directory with "/" separators. 0; -1 for a null buffer;
// -2 when the value is missing or empty.
int get_install_path(char* out);

// The file name of Perl (TOOL_PERL) or gzip (TOOL_GZIP) with "/" separators.
// 0; -1 for a null buffer, another kind or an empty value; -2 when missing.
int get_tool_path(int kind, char* out);

// Swaps the separators of path in place, never touching the second byte of
// a double-byte character. 0; -1 for a null path or another mode.
int conv_path_sep(char* path, int mode);
