#include "admin/lorvexstatus/state.h"

bool GathererState::needs_attention() const {
  // 75 says that a cycle was already at work: no fault of its own.
  const bool last_failed = last_status != -1 && last_status != 0 && last_status != 75;
  return !problem.empty() || cycle_at_work == Seen::kCannotTell || daemon == "cannot tell" || last_failed ||
         last_unknown || interrupted || finishing_failed || !warnings.empty();
}

std::string age_text(long long seconds) {
  if (seconds < 0) seconds = 0;  // a clock set back
  const long long days = seconds / 86400, hours = seconds % 86400 / 3600, minutes = seconds % 3600 / 60;
  if (days > 0) return std::to_string(days) + "d " + std::to_string(hours) + "h";
  if (hours > 0) return std::to_string(hours) + "h " + std::to_string(minutes) + "m";
  if (minutes > 0) return std::to_string(minutes) + "m " + std::to_string(seconds % 60) + "s";
  return std::to_string(seconds) + "s";
}
