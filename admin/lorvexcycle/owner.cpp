#include "admin/lorvexcycle/owner.h"

#include <cerrno>

#include "admin/common/change_refusal.h"
#include "port/change_rule.h"
#include "port/user_switch.h"

std::optional<std::string> act_for_tree_owner(const std::string& gatherer_dir, const std::string& command) {
  if (!port::running_as_root()) return std::nullopt;
  const UsedPath used{"The gatherer directory", gatherer_dir};
  port::PathVerdict verdict;
  if (port::judge_path(gatherer_dir.c_str(), &verdict) != 0) return judge_failure(used, errno);
  if (verdict.exposure == port::Exposure::kNone) return std::nullopt;
  // The first entry on the way that is not root's is the service user's:
  // the tree is the service user's, and so is the cycle.
  port::UserAccount service;
  if (verdict.exposure != port::Exposure::kOwner || port::find_user(kServiceUser, &service) != 0 ||
      verdict.owner != service.uid) {
    return change_refusal(used, verdict, command);
  }
  std::string why;
  if (port::become_user(service, &why) != 0) {
    return "The gatherer directory " + gatherer_dir + " is " + service.name + "'s, and the command cannot act as " +
           service.name + ": " + why + ".";
  }
  return std::nullopt;
}
