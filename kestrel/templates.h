#pragma once
// The text template format the stand-ins share: each template begins with a
// line "@TYPE { URL", holds attribute lines "Name{length}:\tvalue" and ends
// with a line "}". The real database format belongs to the framework.
#include <cstdio>
#include <string>
#include <vector>

namespace kestrel {

struct Template {
  std::string url;
  std::string text;  // every line of it, the opening and closing ones included
};

// Reads the templates of a stream; lines outside a template and a template
// cut off before its closing line are counted in *dropped (when given).
std::vector<Template> read_templates(std::FILE* in, int* dropped = nullptr);

// Reads a database file; false when it cannot be opened.
bool read_database(const char* path, std::vector<Template>* templates, int* dropped = nullptr);

// The command line of a document filter: at most one option (flag) and one
// file. False for anything else; otherwise *flag_given and *path are set.
bool flag_and_file(int argc, char** argv, const char* flag, bool* flag_given, const char** path);

// Reads a whole file's bytes (binary); false when it cannot be opened or read.
bool read_all(const char* path, std::string* bytes);

// Writes the templates to a stream, in order; false on a write error.
bool write_templates(std::FILE* out, const std::vector<Template>& templates);

}  // namespace kestrel
