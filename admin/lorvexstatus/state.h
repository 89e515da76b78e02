#pragma once
// What the status command finds of one gatherer, and of the installation's
// cycle lock.
#include <string>
#include <vector>

// An answer that may be "cannot tell": the command never guesses.
enum class Seen { kNo, kYes, kCannotTell };

struct LockState {
  std::string path;        // empty: no installation directory is known
  Seen present = Seen::kCannotTell;
  long long age = -1;      // seconds since it was made, when present
  bool left_behind = false;  // present while no cycle of the layout is at work
};

struct GathererState {
  std::string settings;    // the settings file's name as given
  std::string name;        // GATHERER_NAME, or the settings file's name
  std::string problem;     // what kept the command from looking, if anything
  Seen cycle_at_work = Seen::kCannotTell;
  std::string cycle_why;   // for "cannot tell"
  // The export daemon, by its log: "held", "free" or "cannot tell".
  std::string daemon = "cannot tell";
  std::string daemon_why;  // for "cannot tell"
  // The last cycle the cycle command ended: "status N: WHAT (ENDED)", or
  // "interrupted ..." for a cycle it began and never ended; empty when none.
  std::string last_cycle;
  bool last_unknown = false;  // last-cycle is there but cannot be read or understood
  int last_status = -1;    // its status, -1 when none
  bool interrupted = false;  // a cycle began, never ended, and no cycle command is at work
  long long last_clean_at = -1;  // when the last clean cycle began (seconds since 1970), -1 none
  // The last finishing of the served data directory, by storeseal's record:
  // "done", "failed at STEP: LINE", "none", or "cannot tell: WHY".
  std::string finishing = "none";
  bool finishing_failed = false;
  long long templates = -1;  // from INFO.soif, -1 when not known
  long long database_age = -1;  // seconds since the production database was written, -1 none
  long long database_written = -1;  // when it was written (seconds since 1970), -1 none
  bool database_unknown = false;  // something is in its place that cannot be looked at
  std::vector<std::string> warnings;

  // Whether the administrator should look: a cycle that failed or was
  // interrupted, a finishing that failed, an answer that could not be had,
  // a warning.
  bool needs_attention() const;
};

// What the files said (names, paths, values, the finishing's line), in the
// system's encoding, made UTF-8 with its control characters shown, as the
// report is written; last-cycle's text is UTF-8 already and is kept.
void make_readable(GathererState* state);

// The state as text, for a look done by another process (one run as the
// tree's owner), and back. False when the text is no such state.
std::string state_text(const GathererState& state);
bool state_from_text(const std::string& text, GathererState* state);

// Seconds as the report writes an age: "3d 4h", "2h 5m", "5m 10s", "40s".
std::string age_text(long long seconds);
