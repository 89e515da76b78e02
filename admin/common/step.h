#pragma once
// A child whose work is judged by its exit status and by the files it leaves.
#include <cstddef>

struct ToolStep {
  const char* line;     // the command line
  const char* name;     // what the words call the program ("gzip", "storejoin.exe")
  const char* program;  // the word to find before the line runs (null: none)
  // Files it must leave as regular files (null entries are none).
  const char* made[2] = {nullptr, nullptr};
  // The file the interpreter's redirection writes the result into (null:
  // none): made empty by the caller before the child runs, so that a file
  // that cannot be written is told apart from a program that failed.
  const char* output = nullptr;
  // An empty file left is a failed step when the step never makes one
  // (a compressed stream, a report), or when its source is not empty:
  // a child that ends with 0 and writes nothing must not replace a whole file.
  bool may_be_empty = true;
  const char* source = nullptr;
  // false: the child's status says nothing of its work (it may end with 0
  // having done nothing, or fail after its file was made): the caller
  // judges it by its files alone, and only a start that failed is refused.
  bool status_tells = true;
};

// Runs the step's line after the caller's output (exec_cmd_in_order). True
// when the program was found, its output file could be made, the child
// returned 0 (unless its status tells nothing) and left each file of made (and the output) as a regular file;
// otherwise false, with the reason in detail (size bytes): "NAME was not
// found", "NAME cannot be run", "the output file FILE could not be opened
// (errno=N)", "NAME could not be started", "NAME returned N", "NAME left no
// file FILE" or "NAME left FILE empty". Through the interpreter a missing program and a failing one
// end in one status; the program is therefore looked for first.
enum class StepFailure {
  kNone,
  kNotFound,    // the program was not found, or cannot be run
  kOutputFile,  // its output file could not be made
  kNoStart,     // it could not be started
  kStatus,      // it returned a status other than 0
  kNoFile,      // it left a file missing
  kEmpty,       // it left a file empty that must not be
};
// *failure (when given) receives what failed, kNone on success.
bool run_step(const ToolStep& step, char* detail, std::size_t size, StepFailure* failure = nullptr);

// The size of the file, 0 when it is not there (or file is null): an empty
// file and none are alike to a step's judge.
long long size_of(const char* file);
