#pragma once
// The words of a program that will not use what another user can change: a
// file of instructions (settings, a gatherer's configuration, the registry
// file), whoever runs the program, and, for a program run as root, every
// directory it would work in or run programs from. The texts name the entry
// that lets another user in, its owner and its mode, and say what to do.
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "port/change_rule.h"

// A path a program is about to use, and what it is to the program ("The
// settings file", "KESTREL_HOME", ...).
struct UsedPath {
  std::string what;
  std::string path;
};

// The refusal of a path that judge_path or open_instructions found another
// user can change, as one line's text (without "ERROR: "): what and path,
// the failing entry with its owner and mode, and the mend. command is the
// program's command line as a shell takes it (command_for_shell), for a
// program run as root over another user's entry: it is told to run so as
// that user.
std::string change_refusal(const UsedPath& used, const port::PathVerdict& verdict, const std::string& command);
// The refusal of a path whose verdict cannot be had (errno of judge_path).
std::string judge_failure(const UsedPath& used, int error);

// The refusal of the first of the paths another user can change (or that
// cannot be judged), for a program run as root: root acts for no other user.
// None when every path passes, when the program is not run as root, or
// where the rule does not apply (Windows).
std::optional<std::string> refusal_as_root(const std::vector<UsedPath>& paths, const std::string& command);
// The same for any user: the paths are instructions whoever runs the program.
std::optional<std::string> refusal_of_instructions(const std::vector<UsedPath>& paths,
                                                   const std::string& command);

// The framework's home directory and the directories the programs and Perl's
// -S search in it ("HOME\bin", "HOME\lib\gatherer", "HOME\lib"), in the
// order the search path names them, home first.
struct FrameworkDirs {
  UsedPath home, bin, lib_gatherer, lib;
};
FrameworkDirs framework_dirs(const char* home);
// The same as a list, home first, for refusal_as_root.
std::vector<UsedPath> framework_paths(const char* home);
// The paths given, followed by the framework's directories of the
// KESTREL_HOME in the environment (when it holds one), which a program's
// search path holds when a cycle runs it.
std::vector<UsedPath> with_framework_of_environment(std::vector<UsedPath> paths);

// The words as a POSIX shell takes them back: each in single quotes unless
// it holds only letters, digits and "_-./:=@%+,".
std::string command_for_shell(std::initializer_list<const char*> words);
