// The harness: the target, running programs and the files of a test; the registry,
// the installation and the journal have files of their own (harness_*.cpp).
#include "tests/programs/harness.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <iconv.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>
#include <utility>

extern char** environ;

namespace lxt {
namespace fs = std::filesystem;

namespace {

// The settings file named by LXT_CONFIG (NAME=value lines), which ctest
// gives each test; variables of the environment take precedence.
const std::map<std::string, std::string>& config_file() {
  static const std::map<std::string, std::string> values = [] {
    std::map<std::string, std::string> m;
    const char* path = std::getenv("LXT_CONFIG");
    if (!path || !*path) return m;
    std::ifstream in(path);
    std::string line;
    while (std::getline(in, line)) {
      size_t eq = line.find('=');
      if (eq != std::string::npos) m[line.substr(0, eq)] = line.substr(eq + 1);
    }
    return m;
  }();
  return values;
}

std::string env_or(const char* name, const std::string& fallback) {
  const char* v = std::getenv(name);
  if (v && *v) return v;
  auto it = config_file().find(name);
  return it != config_file().end() && !it->second.empty() ? it->second : fallback;
}

std::string wine_prefix() {
  return env_or("LXT_WINEPREFIX", env_or("HOME", "/tmp") + "/.cache/lorvex/wineprefix");
}

// Owns a file descriptor.
struct Fd {
  int fd = -1;
  Fd() = default;
  explicit Fd(int f) : fd(f) {}
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  ~Fd() { reset(); }
  void reset() {
    if (fd >= 0) ::close(fd);
    fd = -1;
  }
};

void make_pipe(Fd& r, Fd& w) {
  int p[2];
  if (::pipe2(p, O_CLOEXEC) != 0) throw std::runtime_error("pipe2 failed");
  r.fd = p[0];
  w.fd = p[1];
}

// Writing to a child that has stopped reading must not end the test.
void ignore_sigpipe_once() {
  static const bool done = [] {
    ::signal(SIGPIPE, SIG_IGN);
    return true;
  }();
  (void)done;
}

// The environment block of a child: this process's environment with the
// changes applied, in order.
std::vector<std::string> child_environment(const RunOptions& options, bool for_wine) {
  std::map<std::string, std::string> env;
  for (char** e = environ; *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (!eq) continue;
    env[std::string(*e, static_cast<size_t>(eq - *e))] = std::string(eq + 1);
  }
  for (const auto& c : options.env) {
    if (c.value)
      env[c.name] = *c.value;
    else
      env.erase(c.name);
  }
  if (!options.search_dirs.empty()) {
    if (for_wine) {
      std::string wp;
      for (const auto& d : options.search_dirs) {
        if (!wp.empty()) wp += ';';
        wp += host_path(d);
      }
      auto it = env.find("WINEPATH");
      if (it != env.end() && !it->second.empty()) wp += ";" + it->second;
      env["WINEPATH"] = wp;
    } else {
      std::string p;
      for (const auto& d : options.search_dirs) {
        if (!p.empty()) p += ':';
        p += d;
      }
      auto it = env.find("PATH");
      if (it != env.end() && !it->second.empty()) p += ":" + it->second;
      env["PATH"] = p;
    }
  }
  if (for_wine) {
    env["WINEDEBUG"] = "-all";
    env["WINEPREFIX"] = wine_prefix();
    // Wine takes its ANSI code page from the locale: this gives 932.
    env["LC_ALL"] = "ja_JP.UTF-8";
    env["WINEDLLOVERRIDES"] = "mscoree,mshtml=";
    env.erase("DISPLAY");
  }
  std::vector<std::string> out;
  out.reserve(env.size());
  for (const auto& [k, v] : env) out.push_back(k + "=" + v);
  return out;
}

std::vector<char*> c_strings(std::vector<std::string>& v) {
  std::vector<char*> out;
  for (auto& s : v) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

// Wine maps its shared user data at a fixed address. With the address space
// laid out at random, now and then something already sits there and the
// program dies before it starts ("failed to map the shared user data",
// status 1, nothing on its standard error). Without randomization the layout
// is the same every time, so a run either always works or never does.
// Children started by a Windows program inherit the setting.
std::vector<std::string> wine_command() { return {"setarch", "-R", "wine"}; }

// Makes the Wine prefix once (serialised between test processes by a lock).
void ensure_wine_prefix() {
  static bool ready = false;
  if (ready) return;
  const std::string prefix = wine_prefix();
  if (!fs::exists(prefix + "/system.reg")) {
    fs::create_directories(fs::path(prefix).parent_path());
    const std::string lock_path = prefix + ".lock";
    Fd lock(::open(lock_path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644));
    if (lock.fd >= 0) ::flock(lock.fd, LOCK_EX);
    if (!fs::exists(prefix + "/system.reg")) {
      RunOptions o;
      o.timeout = std::chrono::milliseconds(300000);
      std::vector<std::string> argv = wine_command();
      argv.back() = "wineboot";
      argv.push_back("-i");
      std::vector<std::string> envs = child_environment(o, true);
      auto cargv = c_strings(argv);
      auto cenv = c_strings(envs);
      pid_t pid;
      if (::posix_spawnp(&pid, argv[0].c_str(), nullptr, nullptr, cargv.data(), cenv.data()) == 0) {
        int st;
        while (::waitpid(pid, &st, 0) < 0 && errno == EINTR) {
        }
      }
    }
  }
  ready = true;
}

struct Spawned {
  pid_t pid = -1;
  int error = 0;
};

// Starts argv in a process group of its own with the given standard streams.
Spawned spawn(const std::vector<std::string>& argv_in, const RunOptions& options, int in_fd,
              int out_fd, int err_fd) {
  ignore_sigpipe_once();
  const bool wine = is_wine() && !options.native;
  if (wine) ensure_wine_prefix();
  std::vector<std::string> argv;
  if (wine) argv = wine_command();
  argv.insert(argv.end(), argv_in.begin(), argv_in.end());
  std::vector<std::string> envs = child_environment(options, wine);
  auto cargv = c_strings(argv);
  auto cenv = c_strings(envs);

  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_adddup2(&fa, in_fd, 0);
  posix_spawn_file_actions_adddup2(&fa, out_fd, 1);
  posix_spawn_file_actions_adddup2(&fa, err_fd, 2);
  if (!options.cwd.empty()) posix_spawn_file_actions_addchdir_np(&fa, options.cwd.c_str());
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t def;
  sigemptyset(&def);
  sigaddset(&def, SIGPIPE);
  posix_spawnattr_setsigdefault(&attr, &def);
  sigset_t mask;
  sigemptyset(&mask);
  posix_spawnattr_setsigmask(&attr, &mask);
  posix_spawnattr_setpgroup(&attr, 0);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGDEF |
                                      POSIX_SPAWN_SETSIGMASK);
  Spawned s;
  // "setarch" is looked up in PATH; a program under test is always a path.
  s.error = wine ? ::posix_spawnp(&s.pid, argv[0].c_str(), &fa, &attr, cargv.data(), cenv.data())
                 : ::posix_spawn(&s.pid, argv[0].c_str(), &fa, &attr, cargv.data(), cenv.data());
  if (s.error != 0) s.pid = -1;
  posix_spawn_file_actions_destroy(&fa);
  posix_spawnattr_destroy(&attr);
  return s;
}

int decode_status(int st) {
  if (WIFEXITED(st)) return WEXITSTATUS(st);
  if (WIFSIGNALED(st)) return 128 + WTERMSIG(st);
  return -1;
}

// Natively the whole process group goes, so that no grandchild outlives the
// test. Under Wine only the program itself: the first Wine program of a
// session starts the prefix's boot helper as its child, and every later Wine
// program waits for that helper to finish; killed, it would leave all of
// them waiting for ever.
void kill_program(pid_t pid, bool wine) {
  if (pid <= 1) return;
  if (!wine) ::kill(-pid, SIGKILL);
  ::kill(pid, SIGKILL);
}

}  // namespace

// ---- target ------------------------------------------------------------

bool is_wine() {
  static const bool wine = env_or("LXT_TARGET", "native") == "wine";
  return wine;
}

std::string bin_dir() { return env_or("LXT_BIN_DIR", ""); }
std::string testbin_dir() { return env_or("LXT_TESTBIN_DIR", ""); }

std::string native_double_path(const std::string& name) {
  return env_or("LXT_NATIVE_TESTBIN_DIR", testbin_dir()) + "/" + name;
}

std::string exe_name(const std::string& name) { return is_wine() ? name + ".exe" : name; }
std::string program(const std::string& name) { return bin_dir() + "/" + exe_name(name); }
std::string double_path(const std::string& name) { return testbin_dir() + "/" + exe_name(name); }

std::string host_path(const std::string& posix_path) {
  if (!is_wine()) return posix_path;
  // Wine's drive Z: is the root of the Unix file system; a relative path
  // only changes its separators.
  std::string out = posix_path.empty() || posix_path[0] != '/' ? "" : "Z:";
  for (char c : posix_path) out += (c == '/') ? '\\' : c;
  return out;
}

char host_sep() { return is_wine() ? '\\' : '/'; }

std::string host_dir(const std::string& posix_dir) {
  return is_wine() ? host_path(posix_dir) : fs::canonical(posix_dir).string();
}

std::string backslashed(std::string path) {
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path;
}

std::string host_join(const std::string& posix_dir, const std::string& name) {
  return host_path(posix_dir) + host_sep() + name;
}

// ---- running -------------------------------------------------------------

namespace {

// One run of a program: start() it with pipes for its standard streams,
// pump() its input in and its output out until it ends or its time is up (it
// is killed then), reap() its exit status.
class Running {
 public:
  Running(const RunOptions& options, RunResult* result) : options_(options), result_(result) {}
  bool start(const std::vector<std::string>& argv);  // false, with a test failure, when it cannot start
  void pump();
  void reap();

 private:
  bool ended();        // without waiting
  bool serve_pipes();  // one short wait for the pipes; false when they cannot be waited for
  void feed(short events);
  void input_done();  // the input is written: its pipe is closed, or kept open unpolled
  static void drain(Fd& pipe, std::string& into);  // what the pipe holds now; closed at its end

  const RunOptions& options_;
  RunResult* result_;
  pid_t pid_ = -1;
  std::optional<int> wait_status_;
  Fd out_, err_, in_, kept_in_;  // our ends of the program's standard streams
  std::string input_;
  size_t written_ = 0;
};

bool Running::start(const std::vector<std::string>& argv) {
  Fd out_w, err_w, in_r;
  make_pipe(out_, out_w);
  make_pipe(err_, err_w);
  if (options_.stdin_data) {
    make_pipe(in_r, in_);
  } else {
    in_r.fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  }
  if (options_.stdout_closed) out_.reset();
  if (options_.stderr_closed) err_.reset();
  const Spawned s = spawn(argv, options_, in_r.fd, out_w.fd, err_w.fd);
  if (s.pid < 0) {
    ADD_FAILURE() << "cannot start " << argv[0] << ": " << std::strerror(s.error);
    result_->err = std::strerror(s.error);
    return false;
  }
  pid_ = s.pid;
  for (Fd* f : {&out_, &err_, &in_}) {
    if (f->fd >= 0) ::fcntl(f->fd, F_SETFL, ::fcntl(f->fd, F_GETFL) | O_NONBLOCK);
  }
  input_ = options_.stdin_data.value_or("");
  if (in_.fd >= 0 && input_.empty()) input_done();
  return true;
}

void Running::pump() {
  const auto deadline = std::chrono::steady_clock::now() + options_.timeout;
  while (out_.fd >= 0 || err_.fd >= 0) {
    if (ended()) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      kill_program(pid_, is_wine() && !options_.native);
      result_->timed_out = true;
      reap();
      break;
    }
    if (!serve_pipes()) break;
  }
  // Whatever the program wrote is in the pipes now; a grandchild that
  // inherited them (a daemon, the Wine server) must not keep us waiting.
  if (out_.fd >= 0) drain(out_, result_->out);
  if (err_.fd >= 0) drain(err_, result_->err);
}

void Running::reap() {
  int status = 0;
  while (!wait_status_) {
    if (::waitpid(pid_, &status, 0) == pid_) wait_status_ = status;
    else if (errno != EINTR) break;
  }
  result_->status = wait_status_ ? decode_status(*wait_status_) : -1;
}

bool Running::ended() {
  int status = 0;
  if (!wait_status_ && ::waitpid(pid_, &status, WNOHANG) == pid_) wait_status_ = status;
  return wait_status_.has_value();
}

bool Running::serve_pipes() {
  pollfd p[3];
  int n = 0;
  if (out_.fd >= 0) p[n++] = {out_.fd, POLLIN, 0};
  if (err_.fd >= 0) p[n++] = {err_.fd, POLLIN, 0};
  if (in_.fd >= 0) p[n++] = {in_.fd, POLLOUT, 0};
  // Short polls, so that the end of the program is noticed even when a
  // grandchild holds the pipes open.
  const int ready = ::poll(p, n, 50);
  if (ready < 0) return errno == EINTR;
  for (int i = 0; i < n && ready > 0; ++i) {
    if (p[i].revents == 0) continue;
    if (p[i].fd == out_.fd) drain(out_, result_->out);
    else if (p[i].fd == err_.fd) drain(err_, result_->err);
    else if (p[i].fd == in_.fd) feed(p[i].revents);
  }
  return true;
}

void Running::drain(Fd& pipe, std::string& into) {
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::read(pipe.fd, buffer, sizeof buffer);
    if (n > 0) {
      into.append(buffer, static_cast<size_t>(n));
      continue;
    }
    if (n == 0) pipe.reset();
    if (n == 0 || errno != EINTR) return;  // the end, or (EAGAIN) nothing more now
  }
}

void Running::feed(short events) {
  if (events & (POLLERR | POLLHUP)) {
    in_.reset();
    return;
  }
  const ssize_t n = ::write(in_.fd, input_.data() + written_, input_.size() - written_);
  if (n > 0) written_ += static_cast<size_t>(n);
  else if (n < 0 && errno != EAGAIN && errno != EINTR) in_.reset();
  if (written_ >= input_.size()) input_done();
}

void Running::input_done() {
  if (options_.keep_stdin_open) kept_in_.fd = std::exchange(in_.fd, -1);
  in_.reset();
}

}  // namespace

RunResult run(const std::vector<std::string>& argv, const RunOptions& options) {
  RunResult result;
  if (argv.empty()) {
    ADD_FAILURE() << "lxt::run without a program";
    return result;
  }
  Running running(options, &result);
  if (!running.start(argv)) return result;
  running.pump();
  running.reap();
  return result;
}

RunResult run_text(const std::vector<std::string>& argv, const RunOptions& options) {
  RunResult result = run(argv, options);
  result.out = lf(result.out);
  result.err = lf(result.err);
  return result;
}

Background::Background(const std::vector<std::string>& argv, const RunOptions& options) {
  Fd null_in(::open("/dev/null", O_RDONLY | O_CLOEXEC));
  Fd null_out(::open("/dev/null", O_WRONLY | O_CLOEXEC));
  Spawned s = spawn(argv, options, null_in.fd, null_out.fd, null_out.fd);
  if (s.pid < 0) ADD_FAILURE() << "cannot start " << argv.at(0) << ": " << std::strerror(s.error);
  pid_ = s.pid;
  wine_ = is_wine() && !options.native;
}

Background::~Background() {
  if (pid_ > 0 && !status_) kill();
}

std::optional<int> Background::wait(std::chrono::milliseconds limit) {
  if (status_ || pid_ <= 0) return status_;
  wait_until(
      [&] {
        int st;
        pid_t w = ::waitpid(pid_, &st, WNOHANG);
        if (w == pid_) status_ = decode_status(st);
        return status_.has_value();
      },
      limit);
  return status_;
}

void Background::kill() {
  if (pid_ <= 0 || status_) return;
  kill_program(pid_, wine_);
  int st;
  while (::waitpid(pid_, &st, 0) < 0 && errno == EINTR) {
  }
  status_ = decode_status(st);
}

void Background::signal(int number) {
  if (pid_ > 0 && !status_) ::kill(pid_, number);
}

Peer::Options Peer::answering(const std::string& reply) {
  Options options;
  options.reply = reply;
  options.read = "nul";
  return options;
}

int Peer::closed_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (fd < 0 || ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    ADD_FAILURE() << "no free port on 127.0.0.1: " << std::strerror(errno);
    if (fd >= 0) ::close(fd);
    return 0;
  }
  ::close(fd);
  return ntohs(address.sin_port);
}

Peer::Peer(const Options& options) : dir_(std::make_unique<TempDir>()) {
  const bool target = options.target_build && is_wine();
  auto path = [&](const std::string& name) { return target ? dir_->host(name) : dir_->file(name); };
  std::vector<std::string> argv{target ? double_path("lxpeer") : native_double_path("lxpeer"),
                                "--port-file", path("port"), "--request-file", path("request"),
                                "--read", options.read, "--timeout-ms", "60000"};
  if (options.reply) {
    argv.push_back("--reply");
    argv.push_back(*options.reply);
  }
  if (!options.watch.empty()) {
    argv.push_back("--watch");
    argv.push_back(target ? host_path(options.watch) : options.watch);
  }
  if (options.hold) {
    argv.push_back("--hold-ms");
    argv.push_back("60000");
  }
  RunOptions ro;
  ro.native = !target;
  process_ = std::make_unique<Background>(argv, ro);
  if (!process_->started()) return;
  if (!wait_for_file(dir_->file("port"))) {
    ADD_FAILURE() << "lxpeer did not start listening";
    return;
  }
  port_ = std::atoi(dir_->read("port").c_str());
}

std::optional<int> Peer::finish(std::chrono::milliseconds limit) {
  return process_ ? process_->wait(limit) : std::nullopt;
}

bool Peer::wait_request(std::chrono::milliseconds limit) const { return wait_for_file(dir_->file("request"), limit); }

std::string Peer::request() const { return dir_->read("request"); }
std::string Peer::watched() const { return dir_->read("request.watch"); }

void sleep_a_moment() { std::this_thread::sleep_for(std::chrono::milliseconds(20)); }

bool wait_for_file(const std::string& path, std::chrono::milliseconds limit) {
  return wait_until(
      [&] {
        std::error_code ec;
        auto size = fs::file_size(path, ec);
        return !ec && size > 0;
      },
      limit);
}

}  // namespace lxt
