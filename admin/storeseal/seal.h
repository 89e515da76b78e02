#pragma once
#include "admin/storeseal/arguments.h"

// Finishes the databases in arguments.directory; the program's exit status.
int run_seal(const SealArguments& arguments);
