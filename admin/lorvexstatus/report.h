#pragma once
// The status command's two ways of writing what it found.
#include <vector>

#include "admin/lorvexstatus/state.h"

// A table: a header and one row per gatherer, then the warnings and the cycle
// lock, each on a line of its own.
void write_table(const std::vector<GathererState>& gatherers, const LockState& lock);
// One line per gatherer, the cycle lock and the warnings in it.
void write_brief(const std::vector<GathererState>& gatherers, const LockState& lock);
