#pragma once
#include "admin/cyclerun/settings.h"

// Runs the steps of one gathering cycle with the settings read from the file
// at settings_path. Returns when the cycle has ended, however far it went.
void run_gathering_cycle(const char* settings_path, const SettingsStore& settings);
