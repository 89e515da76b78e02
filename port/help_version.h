#pragma once
// The two questions every program answers before it reads or changes
// anything: --help and --version, each only as the one argument. Here, below
// every program and library, so that the interpreter and skim (which reach
// nothing above the port) answer through the same routine as the others.

namespace port {

// When the only argument is --help, writes the usage text (a line break is
// added when it has none) to standard output; when it is --version, the line
// "PROGRAM VERSION". Both as port/reader_text.h gives text to a terminal: on
// POSIX in the locale's character set, control characters made visible. Returns the exit status then: 0, or 1 when standard
// output did not take the text. Returns -1, having done nothing, for any
// other arguments: with more than one, --help is a word like any other.
int answer_help_or_version(int argc, char** argv, const char* program, const char* usage);

}  // namespace port
