#pragma once
#include "admin/processfiles/settings.h"

// One run of the gatherer's Perl script in the gatherer's directory, kept
// apart from a run already at work there. Returns the program's exit status.
int launch_crawler(const char* settings_path);
