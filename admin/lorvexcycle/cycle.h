#pragma once
// One cycle of a gatherer through its launcher, with an outcome a scheduler
// can read from the exit status.

// Exit statuses of the cycle command.
constexpr int kCycleInformation = 0;  // every message page an information
constexpr int kCycleError = 1;        // some page not an information
constexpr int kCycleNoPage = 2;       // no page came
constexpr int kCycleNotKept = 3;      // every page an information, but the outcome not kept
constexpr int kCycleAtWork = 75;      // a gatherer was already at work: try later
constexpr int kCycleUsage = 64;

// Runs the cycle of the gatherer whose settings file is named, passes its
// output on, records its outcome and returns its status.
int run_cycle_command(const char* settings_path);
