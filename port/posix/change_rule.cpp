// Whether another user can change a path, on POSIX: a walk down from "/"
// that looks at every entry without following it, follows links by reading
// them, and judges each directory by the entry it leads to.
#include "port/change_rule.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "port/file.h"
#include "port/posix/named_file.h"
#include "port/posix/path.h"
#include "port/posix/syscalls.h"
#include "port/posix/table_stream.h"
#include "port/posix/unique_fd.h"
#include "port/posix/user_db.h"

namespace port {

using posix::group_entry;
using posix::password_entry;
using posix::sys;

namespace {

// As the kernel, which gives up on a path after this many links.
constexpr int kMaxLinks = 40;

bool trusted_owner(uid_t uid) { return uid == 0 || uid == ::geteuid(); }

// Whether the group is its owner's private group, whose rights reach that
// user alone: the owner's primary group, of the owner's name, naming no
// other member and the primary group of no other user. Anything that
// cannot be established is no private group.
bool private_group(uid_t owner, gid_t gid) {
  struct passwd user {};
  std::vector<char> user_buffer;
  if (password_entry(owner, &user, &user_buffer) == nullptr || user.pw_gid != gid) return false;
  struct group group {};
  std::vector<char> group_buffer;
  if (group_entry(gid, &group, &group_buffer) == nullptr) return false;
  if (std::strcmp(group.gr_name, user.pw_name) != 0) return false;
  for (char** member = group.gr_mem; member != nullptr && *member != nullptr; ++member) {
    if (std::strcmp(*member, user.pw_name) != 0) return false;
  }
  bool alone = true;
  ::setpwent();
  while (const struct passwd* other = ::getpwent()) {
    if (other->pw_gid == gid && other->pw_uid != owner) {
      alone = false;
      break;
    }
  }
  ::endpwent();
  return alone;
}

Exposure writable(const struct stat& st) {
  if ((st.st_mode & S_IWOTH) != 0) return Exposure::kOthersWritable;
  if ((st.st_mode & S_IWGRP) != 0 && !private_group(st.st_uid, st.st_gid)) return Exposure::kGroupWritable;
  return Exposure::kNone;
}

// An entry at the end of a path: its owner and who may write it.
Exposure judge_end(const struct stat& st) {
  if (!trusted_owner(st.st_uid)) return Exposure::kOwner;
  // A link's own mode bits mean nothing.
  if (S_ISLNK(st.st_mode)) return Exposure::kNone;
  return writable(st);
}

// A directory on the way, by the entry met in it: a sticky directory lets
// nobody but that entry's owner (and root) remove or rename it.
Exposure judge_directory(const struct stat& dir, const struct stat& next) {
  if (!trusted_owner(dir.st_uid)) return Exposure::kOwner;
  const Exposure exposure = writable(dir);
  if (exposure != Exposure::kNone && (dir.st_mode & S_ISVTX) != 0 && trusted_owner(next.st_uid)) {
    return Exposure::kNone;
  }
  return exposure;
}

void fail(PathVerdict* verdict, Exposure exposure, const std::string& entry, const struct stat& st) {
  verdict->exposure = exposure;
  verdict->entry = entry;
  verdict->owner = st.st_uid;
  verdict->group = st.st_gid;
  verdict->mode = st.st_mode & 07777;
}

std::deque<std::string> components(const std::string& path) {
  std::deque<std::string> parts;
  std::size_t start = 0;
  while (start <= path.size()) {
    const std::size_t slash = path.find('/', start);
    const std::size_t end = slash == std::string::npos ? path.size() : slash;
    if (end > start) parts.push_back(path.substr(start, end - start));
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return parts;
}

std::string join(const std::string& dir, const std::string& name) { return dir == "/" ? "/" + name : dir + "/" + name; }

int read_link(const std::string& path, std::string* target) {
  std::string buffer(256, '\0');
  for (;;) {
    const ssize_t length = sys().readlink(path.c_str(), buffer.data(), buffer.size());
    if (length < 0) return -1;
    if (static_cast<std::size_t>(length) < buffer.size()) {
      buffer.resize(static_cast<std::size_t>(length));
      *target = buffer;
      return 0;
    }
    if (buffer.size() >= (1u << 16)) {
      errno = ENAMETOOLONG;
      return -1;
    }
    buffer.resize(buffer.size() * 2);
  }
}

struct Entry {
  std::string path;  // real: no link on its way
  struct stat st {};
};

// Walks the path down from "/". 0 with the verdict and, when the path exists,
// its real path and what lstat told of it in *end; -1 with errno.
// Long as one piece: each step down judges the directory above with the
// entry met in it (for the sticky rule), a link met on the way puts its
// target's names in front of what is left, and ".." goes back up the
// directories met so far; the three share the walk's state.
int walk(const std::string& native, PathVerdict* verdict, Entry* end) {
  *verdict = PathVerdict();
  std::deque<std::string> pending = components(native);
  if (native.empty() || native[0] != '/') {
    std::string here;
    if (current_directory(&here) != 0) return -1;
    std::deque<std::string> from_here = components(here);
    pending.insert(pending.begin(), from_here.begin(), from_here.end());
  }
  std::vector<Entry> dirs(1);
  dirs[0].path = "/";
  if (sys().lstat("/", &dirs[0].st) != 0) return -1;
  int links = 0;
  while (!pending.empty()) {
    const std::string name = pending.front();
    pending.pop_front();
    const Entry& parent = dirs.back();
    // Nothing is reached through a file: the kernel says so for any name
    // after one, "." and ".." included.
    if (!S_ISDIR(parent.st.st_mode)) {
      errno = ENOTDIR;
      return -1;
    }
    if (name == ".") continue;
    if (name == "..") {
      if (dirs.size() > 1) dirs.pop_back();
      continue;
    }
    Entry next;
    next.path = join(parent.path, name);
    if (sys().lstat(next.path.c_str(), &next.st) != 0) {
      if (errno != ENOENT) return -1;
      // Whoever may write the last directory that exists could make the rest.
      verdict->missing = true;
      if (const Exposure exposure = judge_end(parent.st); exposure != Exposure::kNone) {
        fail(verdict, exposure, parent.path, parent.st);
      }
      return 0;
    }
    if (const Exposure exposure = judge_directory(parent.st, next.st); exposure != Exposure::kNone) {
      fail(verdict, exposure, parent.path, parent.st);
      return 0;
    }
    if (S_ISLNK(next.st.st_mode)) {
      if (++links > kMaxLinks) {
        errno = ELOOP;
        return -1;
      }
      std::string target;
      if (read_link(next.path, &target) != 0) return -1;
      std::deque<std::string> parts = components(target);
      pending.insert(pending.begin(), parts.begin(), parts.end());
      if (!target.empty() && target[0] == '/') dirs.resize(1);
      continue;
    }
    dirs.push_back(std::move(next));
  }
  if (const Exposure exposure = judge_end(dirs.back().st); exposure != Exposure::kNone) {
    fail(verdict, exposure, dirs.back().path, dirs.back().st);
  }
  *end = dirs.back();
  return 0;
}

}  // namespace

int judge_path(const char* path, PathVerdict* verdict) {
  Entry end;
  return walk(posix::native_path(path), verdict, &end);
}

std::FILE* open_instructions(const char* path, const char* mode, PathVerdict* verdict) {
  Entry end;
  if (walk(posix::native_path(path), verdict, &end) != 0) return nullptr;
  if (verdict->missing) {
    *verdict = PathVerdict();
    errno = ENOENT;
    return nullptr;
  }
  if (verdict->exposure != Exposure::kNone) {
    errno = EPERM;
    return nullptr;
  }
  // The real path, without a link to follow: what is opened is the entry
  // judged, or the open fails.
  posix::UniqueFd fd(posix::open_named(end.path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
  if (!fd.valid()) return nullptr;
  struct stat st {};
  if (sys().fstat(fd.get(), &st) != 0) return nullptr;
  if (st.st_dev != end.st.st_dev || st.st_ino != end.st.st_ino) {
    // Only root or the user could have put another file there meanwhile.
    errno = EAGAIN;
    return nullptr;
  }
  if (const Exposure exposure = judge_end(st); exposure != Exposure::kNone) {
    fail(verdict, exposure, end.path, st);
    errno = EPERM;
    return nullptr;
  }
  std::FILE* stream = posix::table_stream(fd.get(), mode);
  if (stream != nullptr) fd.release();
  return stream;
}

bool ownership_judged() { return true; }

bool running_as_root() { return ::geteuid() == 0; }

unsigned long effective_user() { return ::geteuid(); }

std::string user_name(unsigned long uid) {
  struct passwd entry {};
  std::vector<char> buffer;
  if (password_entry(static_cast<uid_t>(uid), &entry, &buffer) != nullptr) return entry.pw_name;
  return std::to_string(uid);
}

std::string group_name(unsigned long gid) {
  struct group entry {};
  std::vector<char> buffer;
  if (group_entry(static_cast<gid_t>(gid), &entry, &buffer) != nullptr) return entry.gr_name;
  return std::to_string(gid);
}

}  // namespace port
