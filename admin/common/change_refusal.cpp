#include "admin/common/change_refusal.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

#include "port/env.h"

namespace {

std::string octal(unsigned mode) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "%04o", mode & 07777u);
  return digits;
}

// What lets another user in: the entry, its owner and mode, and why.
std::string fault(const port::PathVerdict& verdict) {
  std::string text = verdict.entry + " (owner " + port::user_name(verdict.owner) + ", mode " + octal(verdict.mode) + ")";
  switch (verdict.exposure) {
    case port::Exposure::kOwner:
      return text + " is another user's";
    case port::Exposure::kGroupWritable:
      return text + " is writable for the group " + port::group_name(verdict.group);
    case port::Exposure::kOthersWritable:
      return text + " is writable for every user";
    case port::Exposure::kNone:
      break;
  }
  return text;
}

// What to do about it.
std::string mend(const port::PathVerdict& verdict, const std::string& command) {
  if (verdict.exposure == port::Exposure::kOwner) {
    const std::string owner = port::user_name(verdict.owner);
    if (port::running_as_root()) {
      return "Root acts for no other user: run it as " + owner + " (runuser -u " + owner + " -- " + command + ").";
    }
    return "Only what root or " + port::user_name(port::effective_user()) + " owns is used.";
  }
  return "Take the right to write there away: chmod go-w " + verdict.entry + ".";
}

}  // namespace

std::string change_refusal(const UsedPath& used, const port::PathVerdict& verdict, const std::string& command) {
  return used.what + " " + used.path + " is not used: " + fault(verdict) + ", so another user can change it.  " +
         mend(verdict, command);
}

std::string judge_failure(const UsedPath& used, int error) {
  return used.what + " " + used.path + " is not used: whether another user can change it cannot be told (" +
         std::strerror(error) + ").";
}

namespace {

std::optional<std::string> first_refusal(const std::vector<UsedPath>& paths, const std::string& command) {
  for (const UsedPath& used : paths) {
    port::PathVerdict verdict;
    if (port::judge_path(used.path.c_str(), &verdict) != 0) return judge_failure(used, errno);
    if (verdict.exposure != port::Exposure::kNone) return change_refusal(used, verdict, command);
  }
  return std::nullopt;
}

}  // namespace

std::optional<std::string> refusal_as_root(const std::vector<UsedPath>& paths, const std::string& command) {
  if (!port::running_as_root()) return std::nullopt;
  return first_refusal(paths, command);
}

std::optional<std::string> refusal_of_instructions(const std::vector<UsedPath>& paths,
                                                   const std::string& command) {
  if (!port::ownership_judged()) return std::nullopt;
  return first_refusal(paths, command);
}

FrameworkDirs framework_dirs(const char* home) {
  const std::string base = home;
  return {{"KESTREL_HOME", base},
          {"KESTREL_HOME's bin", base + "\\bin"},
          {"KESTREL_HOME's lib\\gatherer", base + "\\lib\\gatherer"},
          {"KESTREL_HOME's lib", base + "\\lib"}};
}

std::vector<UsedPath> framework_paths(const char* home) {
  FrameworkDirs dirs = framework_dirs(home);
  return {std::move(dirs.home), std::move(dirs.bin), std::move(dirs.lib_gatherer), std::move(dirs.lib)};
}

std::vector<UsedPath> with_framework_of_environment(std::vector<UsedPath> paths) {
  if (const char* home = port::get_env("KESTREL_HOME"); home != nullptr && *home != '\0') {
    for (UsedPath& dir : framework_paths(home)) paths.push_back(std::move(dir));
  }
  return paths;
}

std::string command_for_shell(std::initializer_list<const char*> words) {
  std::string line;
  for (const char* word : words) {
    if (!line.empty()) line += ' ';
    const std::string text = word;
    if (!text.empty() && text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_-./:=@%+,") ==
                             std::string::npos) {
      line += text;
      continue;
    }
    line += '\'';
    for (char c : text) {
      if (c == '\'') {
        line += "'\\''";
      } else {
        line += c;
      }
    }
    line += '\'';
  }
  return line;
}
