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
