// Child processes on Windows: CreateProcessA with the command line as given,
// so the system's own search order and its implied ".exe" apply.
#include "port/process.h"

#include <process.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "port/system_error.h"
#include "port/win32/handle.h"

namespace port {

using win32::UniqueHandle;

namespace {

void set_error(int* target, DWORD code) {
  if (target != nullptr) *target = static_cast<int>(code);
}

// Members are destroyed in reverse order: the thread handle closes first,
// then the process handle.
struct Started {
  UniqueHandle process;
  UniqueHandle thread;
};

// CreateProcessA may write into the command line, so it gets its own copy.
// The start-up record is all zero apart from its size: the child takes the
// caller's console and standard handles the system's default way. An output
// file replaces only the standard output; the other two stay the caller's.
bool create(const char* command_line, BOOL inherit, DWORD flags, const char* working_dir,
            const char* output_path, Started* started, DWORD* error) {
  if (command_line == nullptr) {
    *error = ERROR_INVALID_PARAMETER;
    return false;
  }
  std::string line(command_line);
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  UniqueHandle output;
  if (output_path != nullptr) {
    SECURITY_ATTRIBUTES inheritable{};
    inheritable.nLength = sizeof(inheritable);
    inheritable.bInheritHandle = TRUE;
    output.reset(CreateFileA(output_path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!output.valid()) {
      *error = GetLastError();
      return false;
    }
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
    startup.hStdOutput = output.get();
    startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    // The handles of the record reach the child only by inheritance.
    inherit = TRUE;
  }
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, inherit, flags, nullptr, working_dir,
                      &startup, &info)) {
    *error = GetLastError();
    return false;
  }
  started->process.reset(info.hProcess);
  started->thread.reset(info.hThread);
  return true;
}

}  // namespace

int find_program(const char* word) {
  // The places CreateProcessA looks in, a missing extension taken as ".exe".
  char found[MAX_PATH];
  const DWORD length = SearchPathA(nullptr, word, ".exe", sizeof found, found, nullptr);
  if (length == 0 || length >= sizeof found) return ENOENT;
  const DWORD attributes = GetFileAttributesA(found);
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ? 0 : EACCES;
}

int run_child(const char* command_line, const ChildOptions& options, int* start_error) {
  Started child;
  DWORD error = 0;
  if (!create(command_line, options.inherit_handles ? TRUE : FALSE,
              options.new_process_group ? CREATE_NEW_PROCESS_GROUP : 0, options.working_dir,
              options.output_path, &child, &error)) {
    set_error(start_error, error);
    if (options.on_start != nullptr) options.on_start(options.on_start_context, static_cast<int>(error));
    return -1;
  }
  set_error(start_error, 0);
  if (options.end_signal != nullptr) *options.end_signal = 0;
  if (options.on_start != nullptr) options.on_start(options.on_start_context, 0);
  WaitForSingleObject(child.process.get(), INFINITE);
  // A failed read leaves the status at 0.
  DWORD status = 0;
  if (!GetExitCodeProcess(child.process.get(), &status)) status = 0;
  // All 32 bits pass through: a status of 0xFFFFFFFF reads as -1.
  return static_cast<int>(status);
}

namespace {

// One pipe's reading end and where its pieces go. The two readers hand their
// pieces on one at a time, so that the relay never runs twice at once.
struct PipeReader {
  HANDLE pipe = nullptr;
  int stream = 0;
  OutputRelay* relay = nullptr;
  CRITICAL_SECTION* turn = nullptr;
};

DWORD WINAPI read_pipe(void* context) {
  auto* reader = static_cast<PipeReader*>(context);
  char buffer[4096];
  DWORD count = 0;
  while (ReadFile(reader->pipe, buffer, sizeof buffer, &count, nullptr) && count > 0) {
    EnterCriticalSection(reader->turn);
    reader->relay->relay(reader->stream, buffer, count);
    LeaveCriticalSection(reader->turn);
  }
  return 0;
}

}  // namespace

// Windows makes no verdict pipe (no program there asks for one), and a
// console event to end is the whole console's: the child gets it as well.
int run_child_relayed(const char* command_line, OutputRelay* relay, int* start_error, const RelayOptions&) {
  if (command_line == nullptr) {
    set_error(start_error, ERROR_INVALID_PARAMETER);
    return -1;
  }
  SECURITY_ATTRIBUTES inheritable{};
  inheritable.nLength = sizeof(inheritable);
  inheritable.bInheritHandle = TRUE;
  HANDLE raw[4] = {};
  if (!CreatePipe(&raw[0], &raw[1], &inheritable, 0)) {
    set_error(start_error, GetLastError());
    return -1;
  }
  UniqueHandle out_read(raw[0]), out_write(raw[1]);
  if (!CreatePipe(&raw[2], &raw[3], &inheritable, 0)) {
    set_error(start_error, GetLastError());
    return -1;
  }
  UniqueHandle err_read(raw[2]), err_write(raw[3]);
  // Only the writing ends go to the child.
  SetHandleInformation(out_read.get(), HANDLE_FLAG_INHERIT, 0);
  SetHandleInformation(err_read.get(), HANDLE_FLAG_INHERIT, 0);
  STARTUPINFOA startup{};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
  startup.hStdOutput = out_write.get();
  startup.hStdError = err_write.get();
  std::string line(command_line);
  PROCESS_INFORMATION info{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NEW_PROCESS_GROUP, nullptr, nullptr,
                      &startup, &info)) {
    set_error(start_error, GetLastError());
    return -1;
  }
  set_error(start_error, 0);
  Started child;
  child.process.reset(info.hProcess);
  child.thread.reset(info.hThread);
  out_write.reset();
  err_write.reset();
  CRITICAL_SECTION turn;
  InitializeCriticalSection(&turn);
  PipeReader out_reader{out_read.get(), 1, relay, &turn};
  PipeReader err_reader{err_read.get(), 2, relay, &turn};
  // Standard error on a thread of its own, standard output here: neither
  // pipe can fill up and stop the child while the other is read.
  UniqueHandle err_thread(CreateThread(nullptr, 0, read_pipe, &err_reader, 0, nullptr));
  if (!err_thread.valid()) err_read.reset();  // the child's writes to it then fail
  read_pipe(&out_reader);
  if (err_thread.valid()) WaitForSingleObject(err_thread.get(), INFINITE);
  DeleteCriticalSection(&turn);
  WaitForSingleObject(child.process.get(), INFINITE);
  DWORD status = 0;
  if (!GetExitCodeProcess(child.process.get(), &status)) status = 0;
  return static_cast<int>(status);
}

int start_error_errno(int start_error) { return system_error_to_errno(start_error); }

int start_daemon(const char* command_line, unsigned wait_ms, int* exit_code, int* start_error) {
  Started daemon;
  DWORD error = 0;
  if (!create(command_line, FALSE, CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &daemon, &error)) {
    set_error(start_error, error);
    return -1;
  }
  WaitForSingleObject(daemon.process.get(), wait_ms);
  // STILL_ACTIVE comes back as it is; the caller decides what it means.
  DWORD status = 0;
  if (!GetExitCodeProcess(daemon.process.get(), &status)) status = 0;
  if (exit_code != nullptr) *exit_code = static_cast<int>(status);
  return 0;
}

int run_shell(const char* line) {
  std::fflush(nullptr);
  return std::system(line);
}

void sleep_ms(unsigned milliseconds) { Sleep(milliseconds); }

int current_pid() { return _getpid(); }

std::string program_name() {
  char path[MAX_PATH];
  const DWORD length = GetModuleFileNameA(nullptr, path, sizeof path);
  std::string name(path, length < sizeof path ? length : 0);
  const std::size_t separator = name.find_last_of("\\/");
  if (separator != std::string::npos) name.erase(0, separator + 1);
  if (name.size() > 4 && _stricmp(name.c_str() + name.size() - 4, ".exe") == 0) name.resize(name.size() - 4);
  return name;
}

int last_system_error() { return static_cast<int>(GetLastError()); }

}  // namespace port
