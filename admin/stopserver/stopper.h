#pragma once

// Stops the gatherer's export daemon in NORMAL or FORCED mode; returns the
// program's exit status.
int stop_server(const char* settings_path, const char* mode);
