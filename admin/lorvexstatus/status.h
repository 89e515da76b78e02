#pragma once
// The state of every gatherer of the layout, or of those named.
#include <string>
#include <vector>

// Where the layout's gatherers have their settings files, NAME.ini each;
// the environment variable names another folder (for a test, or a layout of
// one's own).
inline constexpr char kGatherersDir[] = "/etc/lorvex/gatherers";
inline constexpr char kGatherersDirVariable[] = "LORVEX_GATHERERS";

// Exit statuses of the status command.
constexpr int kStatusFine = 0;
constexpr int kStatusAttention = 1;
constexpr int kStatusUsage = 2;

// Looks at the gatherers of the settings files named (none: the layout's)
// and writes a table, or one line each when brief. Returns the exit status.
int run_status_command(const std::vector<std::string>& settings_files, bool brief);
