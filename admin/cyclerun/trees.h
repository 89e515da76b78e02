#pragma once
#include "admin/cyclerun/settings.h"

// Run as root, the cycle works only in directories root alone can change:
// the data and working directories and the framework's, where the tools are
// found. True when they are (or the cycle does not run as root); false after
// an error line that names the first that is not, its owner and mode, and
// how to run the cycle as its owner.
bool trees_are_roots(const char* settings_path, const SettingsStore& settings);
