#include "admin/lorvexstatus/report.h"

#include <algorithm>
#include <string>

namespace {

std::string seen_text(Seen seen, const char* yes, const char* no) {
  switch (seen) {
    case Seen::kYes: return yes;
    case Seen::kNo: return no;
    default: return "cannot tell";
  }
}

std::string cycle_text(const GathererState& state) { return seen_text(state.cycle_at_work, "at work", "idle"); }

// A "cannot tell" with its reason, as the one line of the brief form says it.
std::string with_why(const std::string& text, const std::string& why) {
  return text == "cannot tell" && !why.empty() ? text + " (" + why + ")" : text;
}

std::string templates_text(const GathererState& state) {
  return state.templates < 0 ? "-" : std::to_string(state.templates);
}

std::string database_text(const GathererState& state) {
  if (state.database_unknown) return "cannot tell";
  return state.database_age < 0 ? "none" : age_text(state.database_age);
}

std::string finishing_text(const GathererState& state) { return state.finishing; }

std::string last_text(const GathererState& state, bool quoted) {
  if (state.last_unknown) return "cannot tell";
  if (state.last_cycle.empty()) return "none";
  return quoted ? "\"" + state.last_cycle + "\"" : state.last_cycle;
}

std::string lock_text(const LockState& lock) {
  if (lock.path.empty()) return "cannot tell (no installation directory)";
  switch (lock.present) {
    case Seen::kNo: return "none";
    case Seen::kYes:
      return std::string(lock.left_behind ? "left behind" : "held") + " (" + age_text(lock.age) + ")";
    default: return "cannot tell";
  }
}

// A row's cells; the last one, the last cycle's line, is not padded.
std::vector<std::string> row_of(const GathererState& state) {
  if (!state.problem.empty()) return {state.name, "cannot tell", "cannot tell", "-", "-", "-", state.problem};
  return {state.name,           cycle_text(state),         state.daemon,           templates_text(state),
          database_text(state), finishing_text(state), last_text(state, false)};
}

}  // namespace

std::string table_text(const std::vector<GathererState>& gatherers, const LockState& lock) {
  std::string text;
  std::vector<std::vector<std::string>> rows = {
      {"GATHERER", "CYCLE", "DAEMON", "TEMPLATES", "DATABASE AGE", "FINISHING", "LAST CYCLE"}};
  for (const GathererState& state : gatherers) rows.push_back(row_of(state));
  std::vector<std::size_t> widths(rows[0].size(), 0);
  for (const auto& row : rows) {
    for (std::size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
  }
  for (const auto& row : rows) {
    std::string line;
    for (std::size_t i = 0; i + 1 < row.size(); ++i) line += row[i] + std::string(widths[i] - row[i].size() + 2, ' ');
    line += row.back();
    text += line + "\n";
  }
  for (const GathererState& state : gatherers) {
    if (state.cycle_at_work == Seen::kCannotTell && !state.cycle_why.empty()) {
      text += state.name + ": cycle: cannot tell: " + state.cycle_why + "\n";
    }
    if (state.problem.empty() && state.daemon == "cannot tell" && !state.daemon_why.empty()) {
      text += state.name + ": daemon: cannot tell: " + state.daemon_why + "\n";
    }
    for (const std::string& warning : state.warnings) {
      text += state.name + ": warning: " + warning + "\n";
    }
  }
  text += "cycle lock: " + lock_text(lock) + (lock.path.empty() ? "" : " ") + lock.path + "\n";
  return text;
}

std::string brief_text(const std::vector<GathererState>& gatherers, const LockState& lock) {
  std::string text;
  for (const GathererState& state : gatherers) {
    std::string line = state.name + ": ";
    if (!state.problem.empty()) {
      line += "cannot tell: " + state.problem;
    } else {
      line += "cycle " + with_why(cycle_text(state), state.cycle_why) + "; daemon " +
              with_why(state.daemon, state.daemon_why) + "; templates " + templates_text(state) +
              "; database " + database_text(state) + "; lock " + lock_text(lock) + "; finishing " +
              finishing_text(state) + "; last " + last_text(state, true);
      for (const std::string& warning : state.warnings) line += "; warning: " + warning;
    }
    text += line + "\n";
  }
  return text;
}
