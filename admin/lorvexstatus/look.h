#pragma once
// Looks at one gatherer, as the programs that start and stop its processes
// would see it.
#include <string>

#include "admin/lorvexstatus/state.h"

// Looks at the gatherer of the settings file. The command's directory is
// left for the gatherer directory on the way; the paths of the settings,
// relative ones being start_dir's, name their files from anywhere, so that
// a starting directory that cannot be entered again changes nothing.
void look_at_gatherer(const char* settings_path, const std::string& start_dir, GathererState* state);

// The path as it names the same file from any directory: one that is not
// absolute is start_dir's, where the administrator typed it.
std::string from_start(const std::string& start_dir, const std::string& path);
