// Acting as another user on POSIX: the ids, groups, umask and variables of a
// login as that user, all or nothing.
#include "port/user_switch.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "port/env.h"
#include "port/posix/syscalls.h"
#include "port/posix/unique_fd.h"
#include "port/posix/user_db.h"

namespace port {

using posix::sys;

namespace {

// The most a child's text may hold.
constexpr std::size_t kMostText = 16u << 20;
// The status of a process that could neither finish nor undo a switch.
constexpr int kHalfSwitched = 125;

// The first byte of what a child of run_as_user writes: whether it became
// the user (its text follows) or not (the reason follows).
constexpr char kSwitched = '1';
constexpr char kRefused = '0';

std::string failure(const char* what, int error) { return std::string(what) + " (" + std::strerror(error) + ")"; }

void fill(const struct passwd& entry, UserAccount* account) {
  account->uid = entry.pw_uid;
  account->gid = entry.pw_gid;
  account->name = entry.pw_name;
  account->home = entry.pw_dir != nullptr ? entry.pw_dir : "";
}

bool all_digits(const char* text) {
  if (*text == '\0') return false;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return false;
  }
  return true;
}

// The variables of a login, as they were before a switch, to put back.
class LoginVariables {
 public:
  LoginVariables() {
    for (int i = 0; i < kCount; ++i) {
      if (const char* value = get_env(kNames[i])) saved_[i] = value;
    }
  }
  // Sets them for the account; false (the old ones back) when one cannot be set.
  bool set(const UserAccount& account) {
    const std::string values[kCount] = {account.home, account.name, account.name};
    for (int i = 0; i < kCount; ++i) {
      // An empty home is no home: the variable goes.
      if (put_env((std::string(kNames[i]) + "=" + values[i]).c_str()) != 0) {
        restore();
        return false;
      }
    }
    return true;
  }
  void restore() const {
    for (int i = 0; i < kCount; ++i) put_env((std::string(kNames[i]) + "=" + saved_[i].value_or("")).c_str());
  }

 private:
  static constexpr int kCount = 3;
  static constexpr const char* kNames[kCount] = {"HOME", "USER", "LOGNAME"};
  std::optional<std::string> saved_[kCount];
};

[[noreturn]] void end_half_switched(const char* what) {
  static const char kLine[] = "the switch to another user can be neither finished nor undone: ";
  ssize_t ignored = ::write(2, kLine, sizeof kLine - 1);
  ignored = ::write(2, what, std::strlen(what));
  ignored = ::write(2, "\n", 1);
  (void)ignored;
  ::_exit(kHalfSwitched);
}

// Whether every id of the process is the account's, and root's cannot be
// had back.
bool switched_for_good(const UserAccount& account) {
  uid_t ruid = 0, euid = 0, suid = 0;
  gid_t rgid = 0, egid = 0, sgid = 0;
  if (::getresuid(&ruid, &euid, &suid) != 0 || ::getresgid(&rgid, &egid, &sgid) != 0) return false;
  if (ruid != account.uid || euid != account.uid || suid != account.uid) return false;
  if (rgid != account.gid || egid != account.gid || sgid != account.gid) return false;
  return account.uid == 0 || ::setuid(0) != 0;
}

// Writes all of the text; false when the reader has gone.
bool write_all(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    const ssize_t written = sys().write(fd, data, size);
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += written;
    size -= static_cast<std::size_t>(written);
  }
  return true;
}

[[noreturn]] void child_work(const UserAccount& account, const std::function<std::string()>& work, int out) {
  std::string why;
  if (become_user(account, &why) != 0) {
    const std::string text = kRefused + why;
    ::_exit(write_all(out, text.data(), text.size()) ? 0 : 1);
  }
  std::string text(1, kSwitched);
  try {
    text += work();
  } catch (...) {
    ::_exit(1);
  }
  ::_exit(write_all(out, text.data(), text.size()) ? 0 : 1);
}

}  // namespace

int find_user(const char* user, UserAccount* account) {
  if (user == nullptr || *user == '\0') {
    errno = ENOENT;
    return -1;
  }
  if (all_digits(user)) {
    errno = 0;
    char* end = nullptr;
    const unsigned long uid = std::strtoul(user, &end, 10);
    if (errno != 0 || uid > static_cast<unsigned long>(static_cast<uid_t>(-1) - 1)) {
      errno = ENOENT;
      return -1;
    }
    return find_user_by_id(uid, account);
  }
  struct passwd entry {};
  std::vector<char> buffer;
  errno = 0;
  if (posix::password_entry(user, &entry, &buffer) == nullptr) {
    if (errno == 0) errno = ENOENT;
    return -1;
  }
  fill(entry, account);
  return 0;
}

int find_user_by_id(unsigned long uid, UserAccount* account) {
  struct passwd entry {};
  std::vector<char> buffer;
  errno = 0;
  if (posix::password_entry(static_cast<uid_t>(uid), &entry, &buffer) == nullptr) {
    if (errno == 0) errno = ENOENT;
    return -1;
  }
  fill(entry, account);
  return 0;
}

int become_user(const UserAccount& account, std::string* why) {
  const uid_t uid = static_cast<uid_t>(account.uid);
  const gid_t gid = static_cast<gid_t>(account.gid);
  LoginVariables variables;
  const mode_t old_umask = ::umask(022);
  if (!variables.set(account)) {
    ::umask(old_umask);
    *why = failure("the variables of the user's login cannot be set", errno);
    return -1;
  }
  // Nothing but the umask and the variables to take for a process that
  // already is the user.
  if (::getuid() == uid && ::geteuid() == uid && ::getgid() == gid && ::getegid() == gid) return 0;
  auto undo_variables = [&] {
    variables.restore();
    ::umask(old_umask);
  };
  if (::geteuid() != 0) {
    undo_variables();
    *why = "only root can act as another user";
    return -1;
  }
  // What the groups were, to be put back when a later part fails.
  const int count = ::getgroups(0, nullptr);
  std::vector<gid_t> groups(count > 0 ? static_cast<std::size_t>(count) : 0);
  uid_t ruid = 0, euid = 0, suid = 0;
  gid_t rgid = 0, egid = 0, sgid = 0;
  if ((count > 0 && ::getgroups(count, groups.data()) != count) || ::getresuid(&ruid, &euid, &suid) != 0 ||
      ::getresgid(&rgid, &egid, &sgid) != 0) {
    undo_variables();
    *why = failure("the process's own ids cannot be read", errno);
    return -1;
  }
  if (sys().initgroups(account.name.c_str(), gid) != 0) {
    const int error = errno;
    undo_variables();
    *why = failure(("the groups of " + account.name + " cannot be taken").c_str(), error);
    return -1;
  }
  auto undo_groups = [&] {
    if (sys().setgroups(groups.size(), groups.data()) != 0) end_half_switched("the groups");
    undo_variables();
  };
  if (sys().setresgid(gid, gid, gid) != 0) {
    const int error = errno;
    undo_groups();
    *why = failure(("the group id " + std::to_string(gid) + " cannot be taken").c_str(), error);
    return -1;
  }
  if (sys().setresuid(uid, uid, uid) != 0) {
    const int error = errno;
    if (sys().setresgid(rgid, egid, sgid) != 0) end_half_switched("the group id");
    undo_groups();
    *why = failure(("the user id " + std::to_string(uid) + " cannot be taken").c_str(), error);
    return -1;
  }
  // The ids are gone for good now: what cannot be checked cannot be undone.
  if (!switched_for_good(account)) end_half_switched("the ids are not all the user's");
  return 0;
}

int run_as_user(const UserAccount& account, const std::function<std::string()>& work, std::string* result,
                std::string* why) {
  int ends[2];
  if (sys().pipe2(ends, O_CLOEXEC) != 0) {
    *why = failure("no pipe to a child can be had", errno);
    return -1;
  }
  posix::UniqueFd reader(ends[0]);
  posix::UniqueFd writer(ends[1]);
  std::fflush(nullptr);
  const pid_t child = sys().fork();
  if (child < 0) {
    *why = failure("no child process can be had", errno);
    return -1;
  }
  if (child == 0) {
    sys().close(reader.release());
    child_work(account, work, ends[1]);
  }
  writer.reset();
  std::string text;
  char buffer[65536];
  bool too_much = false;
  for (;;) {
    const ssize_t got = sys().read(reader.get(), buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) break;
    if (text.size() + static_cast<std::size_t>(got) > kMostText + 1) {
      too_much = true;
      sys().kill(child, SIGKILL);
      break;
    }
    text.append(buffer, static_cast<std::size_t>(got));
  }
  int status = 0;
  while (sys().waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) {
      *why = failure("the child cannot be waited for", errno);
      return -1;
    }
  }
  if (too_much) {
    *why = "the child's text is longer than " + std::to_string(kMostText) + " bytes";
    return -1;
  }
  if (WIFSIGNALED(status)) {
    *why = std::string("the child was ended by signal ") + std::to_string(WTERMSIG(status));
    return -1;
  }
  if (text.empty() || WEXITSTATUS(status) != 0) {
    *why = "the child ended without its text (status " + std::to_string(WEXITSTATUS(status)) + ")";
    return -1;
  }
  if (text[0] != kSwitched) {
    *why = text.substr(1);
    return -1;
  }
  *result = text.substr(1);
  return 0;
}

}  // namespace port
