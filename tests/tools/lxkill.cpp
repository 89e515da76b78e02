// lxkill: a child that kills the program that started it, however deep in a
// pipeline it runs: it walks up from its parent to the nearest process whose
// program is named LXT_KILL (for example "storeseal") and ends it at once
// (SIGKILL; TerminateProcess on Windows). Then it does the least its tool
// name asks: standard input to standard output, status 0. Started under any
// tool's name, it stands for that tool's first start; with LXT_KILL_AT=N and
// LXT_KILL_COUNT naming a counter file, only its N-th start kills.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <tlhelp32.h>
#else
#include <signal.h>
#include <unistd.h>
#include <fstream>
#include <sstream>
#endif

namespace {

std::string lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The program name without folder and ".exe", lower case.
std::string bare(std::string name) {
  const std::size_t slash = name.find_last_of("/\\");
  if (slash != std::string::npos) name = name.substr(slash + 1);
  name = lower(name);
  if (name.size() > 4 && name.ends_with(".exe")) name.resize(name.size() - 4);
  return name;
}

#ifdef _WIN32
bool kill_ancestor(const std::string& target) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return false;
  // Each process's parent and name, looked up from our own id upwards.
  auto entry_of = [&](DWORD pid, PROCESSENTRY32& found) {
    PROCESSENTRY32 e{};
    e.dwSize = sizeof e;
    for (BOOL more = Process32First(snapshot, &e); more; more = Process32Next(snapshot, &e)) {
      if (e.th32ProcessID == pid) {
        found = e;
        return true;
      }
    }
    return false;
  };
  bool killed = false;
  PROCESSENTRY32 self{};
  DWORD pid = GetCurrentProcessId();
  for (int depth = 0; depth < 16 && entry_of(pid, self); ++depth) {
    pid = self.th32ParentProcessID;
    PROCESSENTRY32 parent{};
    if (pid == 0 || !entry_of(pid, parent)) break;
    if (bare(parent.szExeFile) == target) {
      HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, pid);
      if (process != nullptr) {
        killed = TerminateProcess(process, 137) != 0;
        CloseHandle(process);
      }
      break;
    }
  }
  CloseHandle(snapshot);
  return killed;
}
#else
// The parent id and program name of a process, from /proc.
bool stat_of(pid_t pid, pid_t* parent, std::string* name) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const std::size_t open = text.find('(');
  const std::size_t close = text.rfind(')');
  if (open == std::string::npos || close == std::string::npos) return false;
  *name = text.substr(open + 1, close - open - 1);
  std::istringstream rest(text.substr(close + 1));
  std::string state;
  long ppid = 0;
  rest >> state >> ppid;
  *parent = static_cast<pid_t>(ppid);
  return true;
}

bool kill_ancestor(const std::string& target) {
  pid_t pid = getppid();
  for (int depth = 0; depth < 16 && pid > 1; ++depth) {
    pid_t parent = 0;
    std::string name;
    if (!stat_of(pid, &parent, &name)) return false;
    if (bare(name) == target) return ::kill(pid, SIGKILL) == 0;
    pid = parent;
  }
  return false;
}
#endif

// Counts this start in the counter file; true when it is the one to kill at.
bool my_turn() {
  const char* at = std::getenv("LXT_KILL_AT");
  const char* counter = std::getenv("LXT_KILL_COUNT");
  if (at == nullptr || counter == nullptr) return true;
  int count = 0;
  if (std::FILE* in = std::fopen(counter, "r")) {
    if (std::fscanf(in, "%d", &count) != 1) count = 0;
    std::fclose(in);
  }
  ++count;
  if (std::FILE* out = std::fopen(counter, "w")) {
    std::fprintf(out, "%d\n", count);
    std::fclose(out);
  }
  return count == std::atoi(at);
}

}  // namespace

int main() {
  const char* target = std::getenv("LXT_KILL");
  if (target != nullptr && my_turn() && !kill_ancestor(bare(target))) {
    std::fprintf(stderr, "lxkill: found no %s to kill\n", target);
    return 99;
  }
#ifdef _WIN32
  _setmode(_fileno(stdin), _O_BINARY);
  _setmode(_fileno(stdout), _O_BINARY);
#endif
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, stdin)) > 0) std::fwrite(buffer, 1, n, stdout);
  return 0;
}
