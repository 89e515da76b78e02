#pragma once
// Looks at one gatherer, as the programs that start and stop its processes
// would see it.
#include <string>

#include "admin/lorvexstatus/state.h"

// Looks at the gatherer of the settings file. The command's directory is
// left for the gatherer directory on the way and entered again (start_dir);
// false when that fails, and the command cannot go on.
bool look_at_gatherer(const char* settings_path, const std::string& start_dir, GathererState* state);
