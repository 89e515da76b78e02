#pragma once
// Acting as another user: root, asked to work on a tree that the service
// user owns, does that work as the service user, so that nothing the tree's
// owner can change is followed, run or written with root's rights.
//
// POSIX: the password database names users; a switch takes the user's
// groups (initgroups), group and user id (real, effective and saved alike),
// the umask 0022 and the user's HOME, USER and LOGNAME. Windows: there is no
// such switch; every call fails with ENOSYS (the pages tell the
// administrator to run the programs as the account that owns the
// directories).
#include <functional>
#include <string>

namespace port {

// A user of the password database.
struct UserAccount {
  unsigned long uid = 0;
  unsigned long gid = 0;  // the user's primary group
  std::string name;
  std::string home;
};

// Looks up a user by name, or by id when the text is all digits. 0, or -1
// with errno (ENOENT: no such user in the password database).
int find_user(const char* user, UserAccount* account);
int find_user_by_id(unsigned long uid, UserAccount* account);

// Becomes the user for the rest of the process: initgroups, setgid and
// setuid (real, effective and saved ids), then umask 0022 and HOME, USER and
// LOGNAME from the password database. Only root can become another user; a
// process that already is the user only takes the umask and the variables.
// 0 when every part is done and no way back to root is left; -1 with *why
// (a sentence without its full stop) when any part fails: the process is
// then as it was, never half switched (a part that can be neither done nor
// undone ends the process with status 125 before anything else runs).
int become_user(const UserAccount& account, std::string* why);

// Runs work in a child process that has become the user and hands back the
// text work returned (at most 16 MiB). The caller waits for the child. 0 with
// *result when the child became the user and its text came back whole; -1
// with *why otherwise (no child to be had, the switch refused, the child
// ended by a signal or without its text). Standard streams are flushed
// before the child is made, so that nothing buffered is written twice.
int run_as_user(const UserAccount& account, const std::function<std::string()>& work, std::string* result,
                std::string* why);

}  // namespace port
