#pragma once
// The verdict on one cycle, from what its programs told as typed values: the
// launcher's line on its verdict pipe, and the records that the cycle
// driver and the database finishing left for this cycle.
#include <string>

// Exit statuses of the cycle command.
constexpr int kCycleClean = 0;     // every step ended with 0, the finishing succeeded, the service was told
constexpr int kCycleNotClean = 1;  // the cycle ran, and something of it failed or left no record
constexpr int kCycleNotRun = 2;    // no cycle ran: settings, the launcher's refusal, no start
constexpr int kCycleNotKept = 3;   // clean, but its outcome could not be kept
constexpr int kCycleAtWork = 75;   // a gatherer or another cycle command was already at work: try later
constexpr int kCycleUsage = 64;

struct Verdict {
  int status = kCycleNotRun;
  std::string what;  // for people: what failed, or that the cycle was clean
};

// Where the cycle's records are, and whose they may be.
struct CycleRecords {
  std::string cycle;          // this cycle's id
  std::string gatherer_dir;   // the cycle driver's working directory
  unsigned long tree_owner = 0;  // besides root, the one user who may have written them
};

// The verdict of a cycle whose launcher told `launcher` ("" when it told
// nothing) on its verdict pipe.
Verdict judge_cycle(const std::string& launcher, const CycleRecords& records);
