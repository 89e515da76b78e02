#pragma once
// One cycle of a gatherer through its launcher, with an outcome a scheduler
// can read from the exit status (verdict.h).
#include "admin/lorvexcycle/verdict.h"

// Runs the cycle of the gatherer whose settings file is named, passes its
// output on, records its outcome and returns its status.
int run_cycle_command(const char* settings_path);
