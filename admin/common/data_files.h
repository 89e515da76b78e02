#pragma once
// The files of a gatherer's data directory that the cycle and the finishing
// programs make, read and remove.

inline constexpr char kWorking[] = "WORKING.gdbm";
inline constexpr char kRefresh[] = "REFRESH.gdbm";
inline constexpr char kProduction[] = "PRODUCTION.gdbm";
inline constexpr char kIndex[] = "INDEX.gdbm";
inline constexpr char kMd5[] = "MD5.gdbm";
inline constexpr char kDump[] = "All-Templates.gz";
inline constexpr char kInfo[] = "INFO.soif";
inline constexpr char kRendering[] = "INFO_J.txt";  // the statistics in Japanese

// The index of the production database waits under these names while the
// new one is built, and comes back when the new database does not take the
// production database's place.
inline constexpr char kIndexAside[] = "INDEX.gdbm.old";
inline constexpr char kMd5Aside[] = "MD5.gdbm.old";
// A gathered database that cannot be removed once it is in the production
// database goes under these names, which no run joins.
inline constexpr char kRefreshJoined[] = "REFRESH.gdbm.joined";
inline constexpr char kWorkingJoined[] = "WORKING.gdbm.joined";

// In the gatherer's working directory: the URL input the caller places there
// for the cycle's seeding pipeline.
inline constexpr char kGatherInput[] = "gatherinput";

// In the gatherer directory, the cycle command's own: the record of the
// last cycle it ran to its end, the record of the cycle it began last (a
// cycle whose end was never recorded was interrupted), and its lock, which
// keeps a second cycle command out while one is at work.
inline constexpr char kLastCycle[] = "last-cycle";
inline constexpr char kCycleBegan[] = "cycle-began";
inline constexpr char kCycleCommandLock[] = "lorvex-cycle.lock";

// The cycle lock, in the installation directory: a cycle holds it while it
// tells the search service; one left behind refuses every later notice.
inline constexpr char kCycleLock[] = ".lxQ71K58R03lock";
