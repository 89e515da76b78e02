#pragma once

// Starts the gatherer's export daemon from the settings file and tells by
// the returned exit status whether it came up.
int launch_server(const char* settings_path);
