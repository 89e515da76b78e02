#include "admin/common/step.h"

#include <cerrno>
#include <cstdio>
#include <initializer_list>

#include "admin/common/exec_cmd.h"
#include "port/file.h"
#include "port/process.h"

namespace {

// An empty file under the name, whatever an earlier run left there.
int make_output(const char* name) {
  if (port::remove_file(name) != 0 && errno != ENOENT) return errno;
  return port::create_exclusive(name) == 0 ? 0 : errno;
}

bool left_file(const char* file) {
  port::FileInfo info;
  return file == nullptr || (port::file_stat(file, &info) == 0 && info.is_regular);
}

}  // namespace

long long size_of(const char* file) {
  port::FileInfo info;
  return file != nullptr && port::file_stat(file, &info) == 0 ? info.size : 0;
}

bool run_step(const ToolStep& step, char* detail, std::size_t size, StepFailure* failure) {
  StepFailure unused;
  StepFailure& failed = failure != nullptr ? *failure : unused;
  failed = StepFailure::kNone;
  const auto fail = [&failed](StepFailure what) {
    failed = what;
    return false;
  };
  if (step.program != nullptr) {
    const int found = port::find_program(step.program);
    if (found != 0) {
      std::snprintf(detail, size, found == ENOENT ? "%s was not found" : "%s cannot be run", step.name);
      return fail(StepFailure::kNotFound);
    }
  }
  if (step.output != nullptr) {
    if (const int error = make_output(step.output)) {
      std::snprintf(detail, size, "the output file %s could not be opened (errno=%d)", step.output, error);
      return fail(StepFailure::kOutputFile);
    }
  }
  const int status = exec_cmd_in_order(step.line);
  if (status == -1) {
    std::snprintf(detail, size, "%s could not be started", step.name);
    return fail(StepFailure::kNoStart);
  }
  if (status != 0 && step.status_tells) {
    std::snprintf(detail, size, "%s returned %d", step.name, status);
    return fail(StepFailure::kStatus);
  }
  const bool must_hold = !step.may_be_empty || size_of(step.source) > 0;
  for (const char* file : {step.made[0], step.made[1], step.output}) {
    if (!left_file(file)) {
      std::snprintf(detail, size, "%s left no file %s", step.name, file);
      return fail(StepFailure::kNoFile);
    }
    if (file != nullptr && must_hold && size_of(file) == 0) {
      std::snprintf(detail, size, "%s left %s empty", step.name, file);
      return fail(StepFailure::kEmpty);
    }
  }
  return true;
}
