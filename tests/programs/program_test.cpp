#include "tests/programs/program_test.h"

#include <regex>

namespace lxt {

const char kStampPattern[] = "[0-9]{8} [0-9]{2}:[0-9]{2}:[0-9]{2}";

std::string diagnostic_prefix(const std::string& program) { return program + ": " + kStampPattern + ": "; }

bool matches(const std::string& text, const std::string& pattern) {
  return std::regex_search(text, std::regex(pattern));
}

RunResult ProgramTest::run_program(const std::string& name, const std::vector<std::string>& args, RunOptions options,
                                   const std::string& env_names) const {
  std::vector<std::string> argv{program(name)};
  argv.insert(argv.end(), args.begin(), args.end());
  const std::vector<EnvChange> journal = journal_env(journal_path(), env_names);
  options.env.insert(options.env.begin(), journal.begin(), journal.end());
  if (options.cwd.empty()) options.cwd = dir_.path();
  return run_text(argv, options);
}

}  // namespace lxt
