#pragma once
// Whose cycle a cycle run by root is: the tree's owner's. Over the service
// user's tree root becomes the service user before it reads anything of the
// tree, so that a cycle started by hand is the unit's cycle and nothing the
// service user can change runs with root's rights; over a tree of another
// user, or one that others can change, no cycle runs.
#include <optional>
#include <string>

// The service user, whose trees the units' cycles write.
inline constexpr char kServiceUser[] = "lorvex";

// For the gatherer directory of a cycle about to run: nothing when the
// program is not root, when the tree is root's alone, or when it has become
// the service user; else the refusal's text (one sentence or more, each
// with its full stop). command is the cycle command's line as a shell takes
// it, for the refusal to show.
std::optional<std::string> act_for_tree_owner(const std::string& gatherer_dir, const std::string& command);
