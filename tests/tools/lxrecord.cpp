// lxrecord: the recording child of the program tests. It stands in for any
// tool a program starts (copies of it run under the tool's name) and does what
// its environment tells it. Each option OPT is looked up first as
// LXT_<NAME>_<OPT>, NAME being the upper-cased name it runs as, then as
// LXT_<OPT>:
//   JOURNAL   file to append one record of this start to
//   ENV       comma-separated variable names whose values go into the record
//   STDIN     "copy": standard input to standard output; "read": read it to
//             its end and put its bytes into the record
//   PRINT     text to write to standard output
//   LIST      "cwd": the names of the files in the current directory go into
//             the record (field "file", sorted), as it found them at its start
//   CREATE    files (comma-separated) to create with the text "made by NAME\n"
//             before it ends
//   EMPTY     "1": the files of CREATE are created empty instead
//   HOLD      file to keep open for appending while it runs
//   HOLD_ACCESS  "read": HOLD is kept open for reading instead
//   HOLD_SHARE   Windows: "none", "read" or "readwrite", the sharing HOLD is
//             opened with (default: the C runtime's); ignored elsewhere
//   PIDFILE   file to write its process id into (after the record is written)
//   SLEEP_MS  time to wait before ending
//   UNTIL     file whose appearance ends the wait (checked every 10 ms, for
//             at most two minutes), so a test decides when a holder ends
//   EXIT      exit status
//   ONCE      file: EXIT holds only for the start that finds it missing (and
//             makes it); later starts end with 0
//
// Record format, one field per line, every value length-prefixed so that
// arguments with blanks, quotes or line feeds come back byte for byte:
//   record
//   program <len>\n<bytes>\n    argv0, arg (one per argument), cwd, pid, file,
//   env:NAME <len>\n<bytes>\n   stdin likewise
//   unset:NAME
//   end
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <set>
#include <string>

#include "port/env.h"
#include "port/file.h"
#include "port/process.h"
#include "port/stream.h"

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

std::string run_name;  // upper-cased name this copy runs as

std::string base_name(const char* argv0) {
  std::string s = argv0 ? argv0 : "";
  size_t slash = s.find_last_of("/\\");
  if (slash != std::string::npos) s = s.substr(slash + 1);
  if (s.size() > 4) {
    std::string ext = s.substr(s.size() - 4);
    for (char& c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (ext == ".exe") s.resize(s.size() - 4);
  }
  return s;
}

const char* option(const char* opt) {
  std::string specific = "LXT_" + run_name + "_" + opt;
  if (const char* v = port::get_env(specific.c_str())) return v;
  std::string general = std::string("LXT_") + opt;
  return port::get_env(general.c_str());
}

void field(std::string& rec, const std::string& key, const std::string& value) {
  rec += key + " " + std::to_string(value.size()) + "\n" + value + "\n";
}

std::string read_all(std::FILE* in) {
  std::string data;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, in)) > 0) data.append(buf, n);
  return data;
}

// Appends in one write so that two members of a pipeline keeping the same
// journal never interleave their records.
bool append(const char* path, const std::string& bytes) {
  std::FILE* f = port::open_file(path, "ab");
  if (!f) return false;
  std::setvbuf(f, nullptr, _IONBF, 0);
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// Written under a second name and renamed, so that a waiting test never reads
// a half-written id.
bool write_pid_file(const char* path) {
  std::string tmp = std::string(path) + ".tmp";
  std::FILE* f = port::open_file(tmp.c_str(), "wb");
  if (!f) return false;
  std::fprintf(f, "%d", port::current_pid());
  if (std::fclose(f) != 0) return false;
  port::remove_file(path);
  return port::rename_file(tmp.c_str(), path) == 0;
}

// Opens HOLD as the options say; the handle lives as long as the process.
bool hold_file(const char* path) {
  const char* access = option("HOLD_ACCESS");
  const bool reading = access != nullptr && std::strcmp(access, "read") == 0;
#ifdef _WIN32
  if (const char* share = option("HOLD_SHARE")) {
    const DWORD mode = std::strcmp(share, "none") == 0   ? 0
                       : std::strcmp(share, "read") == 0 ? FILE_SHARE_READ
                                                         : FILE_SHARE_READ | FILE_SHARE_WRITE;
    return CreateFileA(path, reading ? GENERIC_READ : GENERIC_WRITE, mode, nullptr, OPEN_ALWAYS,
                       FILE_ATTRIBUTE_NORMAL, nullptr) != INVALID_HANDLE_VALUE;
  }
#endif
  return port::open_file(path, reading ? "rb" : "ab") != nullptr;
}

// The upper-cased name this copy runs as, each character that is not a letter
// or digit a '_', as the options' variable names spell it.
std::string option_name(const std::string& name) {
  std::string upper;
  for (char c : name)
    upper += std::isalnum(static_cast<unsigned char>(c))
                 ? static_cast<char>(std::toupper(static_cast<unsigned char>(c)))
                 : '_';
  return upper;
}

void record_environment(std::string& rec, const std::string& list) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    std::string var = list.substr(start, comma - start);
    if (!var.empty()) {
      // The name exactly as written: a test tells apart what a program
      // left in another letter case (Windows' runtime reads any case).
      if (const char* v = std::getenv(var.c_str())) field(rec, "env:" + var, v);
      else rec += "unset:" + var + "\n";
    }
    start = comma + 1;
  }
}

// STDIN "copy" passes standard input through; "read" puts its bytes into the
// record.
void take_standard_input(std::string& rec) {
  const char* stdin_mode = option("STDIN");
  if (stdin_mode && std::strcmp(stdin_mode, "copy") == 0) {
    port::set_binary_mode(stdin);
    port::set_binary_mode(stdout);
    std::string data = read_all(stdin);
    std::fwrite(data.data(), 1, data.size(), stdout);
    std::fflush(stdout);
  } else if (stdin_mode && std::strcmp(stdin_mode, "read") == 0) {
    port::set_binary_mode(stdin);
    field(rec, "stdin", read_all(stdin));
  }
}

// The whole record of this start, standard input taken as STDIN says.
std::string compose_record(int argc, char** argv, const std::string& name) {
  std::string rec = "record\n";
  field(rec, "program", name);
  field(rec, "argv0", argc > 0 ? argv[0] : "");
  for (int i = 1; i < argc; ++i) field(rec, "arg", argv[i]);
  std::error_code ec;
  field(rec, "cwd", std::filesystem::current_path(ec).string());
  field(rec, "pid", std::to_string(port::current_pid()));
  if (const char* list = option("LIST"); list && std::strcmp(list, "cwd") == 0) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(".", ec)) {
      names.insert(entry.path().filename().string());
    }
    for (const std::string& file_name : names) field(rec, "file", file_name);
  }
  if (const char* names = option("ENV")) record_environment(rec, names);
  take_standard_input(rec);
  rec += "end\n";
  return rec;
}

void create_files(const std::string& name) {
  const char* create = option("CREATE");
  if (create == nullptr) return;
  std::string names = create;
  for (std::size_t at = 0, comma; at <= names.size(); at = comma + 1) {
    comma = std::min(names.find(',', at), names.size());
    const std::string file = names.substr(at, comma - at);
    std::FILE* made = port::open_file(file.c_str(), "wb");
    const char* empty = option("EMPTY");
    if (made) {
      if (empty == nullptr || std::strcmp(empty, "1") != 0) std::fprintf(made, "made by %s\n", name.c_str());
      std::fclose(made);
    } else {
      std::fprintf(stderr, "lxrecord: cannot create %s\n", file.c_str());
    }
  }
}

// Keeps the record, leaves the process id, waits as told and gives the exit
// status: 120 when the record could not be kept, else EXIT as ONCE allows.
int keep_record_and_end(const std::string& rec) {
  int status = 0;
  if (const char* journal = option("JOURNAL")) {
    if (!append(journal, rec)) {
      std::fprintf(stderr, "lxrecord: cannot append to %s\n", journal);
      status = 120;
    }
  }
  if (const char* pidfile = option("PIDFILE")) {
    if (!write_pid_file(pidfile)) std::fprintf(stderr, "lxrecord: cannot write %s\n", pidfile);
  }
  if (const char* ms = option("SLEEP_MS")) port::sleep_ms(static_cast<unsigned>(std::strtoul(ms, nullptr, 10)));
  if (const char* until = option("UNTIL")) {
    for (int step = 0; step < 12000 && !port::exists(until); ++step) port::sleep_ms(10);
  }
  bool exit_now = true;
  if (const char* once = option("ONCE")) {
    exit_now = !port::exists(once);
    if (std::FILE* mark = exit_now ? port::open_file(once, "wb") : nullptr) std::fclose(mark);
  }
  if (status == 0 && exit_now) {
    if (const char* code = option("EXIT")) status = static_cast<int>(std::strtol(code, nullptr, 10));
  }
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string name = base_name(argc > 0 ? argv[0] : "lxrecord");
  run_name = option_name(name);

  if (const char* hold = option("HOLD")) {
    if (!hold_file(hold)) std::fprintf(stderr, "lxrecord: cannot hold %s\n", hold);
  }

  const std::string rec = compose_record(argc, argv, name);

  if (const char* print = option("PRINT")) {
    std::fputs(print, stdout);
    std::fflush(stdout);
  }
  create_files(name);
  return keep_record_and_end(rec);
}
