#pragma once
// The status command's two forms of what it found, as the text to write.
#include <string>
#include <vector>

#include "admin/lorvexstatus/state.h"

// A table: a header and one row per gatherer, then the warnings and the cycle
// lock, each on a line of its own.
std::string table_text(const std::vector<GathererState>& gatherers, const LockState& lock);
// One line per gatherer, the cycle lock and the warnings in it.
std::string brief_text(const std::vector<GathererState>& gatherers, const LockState& lock);
