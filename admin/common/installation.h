#pragma once
// The installation's settings in the per-machine registry, typed: where the
// product is installed, where Perl and gzip are, the search service's port,
// and any string or number value by name. Every call reads the registry
// afresh. A setting that cannot be had is an empty optional; unless the
// caller asks for quiet, the failure has then been reported in the words the
// programs' messages fix.
#include <cstdint>
#include <optional>
#include <string>

namespace installation {

enum class Quiet : bool { kNo = false, kYes = true };
enum class Tool { kPerl, kGzip };

// Keys under HKEY_LOCAL_MACHINE: the installation directory's, and the one of
// the tools' paths and the service's port.
extern const char kPathNameKey[];
extern const char kEnvInfoKey[];

// The longest string value that can be read (a value's data buffer less its
// terminator).
constexpr int kMaxValueLength = 256;

// The string of value_name (matched exactly) under HKEY_LOCAL_MACHINE\key_path,
// up to its first zero byte; a value of zero-length data counts as missing,
// an empty string does not. None when the key or the value cannot be had or
// is longer than kMaxValueLength (reported as QTRM109-E).
std::optional<std::string> string_value(const char* key_path, const char* value_name, Quiet quiet);

// The value's first four bytes as a little-endian number (its type is not
// examined; shorter data is padded with zeros). None when the key cannot be
// opened or the value cannot be had (reported as LXC_MSG_002 with the
// registry step, "RegOpenKeyEx" or "RegQueryValueEx", and its error code).
std::optional<std::uint32_t> number_value(const char* key_path, const char* value_name, Quiet quiet);

// The installation directory (Path00) with "/" separators. None when missing
// or empty (QTRM109-E).
std::optional<std::string> directory(Quiet quiet);

// The tool's file name (PerlPath, GzipPath) with "/" separators. None when
// missing (QTRM109-E) or empty (LXC_MSG_613NT for gzip, nothing for Perl):
// callers then take the plain name found along the search path.
std::optional<std::string> tool_path(Tool tool, Quiet quiet);

// The search service's command port: the low 16 bits of CgiPortNo.
std::optional<std::uint16_t> service_port(Quiet quiet);

// Turns every from in path into to, passing over double-byte characters
// whole: a second byte with the code of "\" is never a separator.
void swap_separators(char* path, char from, char to);

}  // namespace installation
