#pragma once
// The time-stamped line in which every administration program tells what
// went wrong or what it did: "PROGRAM: STAMP: TEXT", on standard error or in
// a log.
#include <cstdarg>
#include <cstdio>
#include <string>

// The local time as "%Y%m%d %H:%M:%S", in one buffer that every call
// overwrites; empty until the first successful call.
const char* time_stamp();

// How a program's lines show what they quote (a path, a value of a file).
enum class Shown {
  kAsIs,       // the bytes as they are, as the system's messages always were
  kForReader,  // made fit for a reader (port/reader_text.h): the commands of the service alone
};

// The lines of one program. The texts are given without their line break.
class Diagnostics {
 public:
  explicit Diagnostics(const char* program, Shown shown = Shown::kAsIs) : program_(program), shown_(shown) {}

  // "PROGRAM: STAMP: TEXT" on standard error.
  __attribute__((format(printf, 2, 3))) void say(const char* format, ...) const;
  // "PROGRAM: STAMP: ERROR: TEXT" on standard error.
  __attribute__((format(printf, 2, 3))) void error(const char* format, ...) const;
  // "PROGRAM: STAMP: TEXT" in a log.
  __attribute__((format(printf, 3, 4))) void say_in(std::FILE* log, const char* format, ...) const;
  // "PROGRAM: STAMP: KIND TEXT" in any stream; kind is "" or "ERROR: ".
  // Standard error is flushed after the line, as the Windows runtime buffers
  // it when it is no console; a log is flushed, and checked, by its writer.
  __attribute__((format(printf, 4, 0))) void vline(std::FILE* out, const char* kind, const char* format,
                                                   std::va_list args) const;

  // The text of the first error line said on standard error, for a record
  // of what the run failed of; empty while there was none.
  const std::string& first_error() const { return first_error_; }

 private:
  const char* program_;
  Shown shown_;
  mutable std::string first_error_;
};

// The kind of an error line.
inline constexpr char kErrorKind[] = "ERROR: ";
