#pragma once
// storeseal's command line: [--save-spase] GathererIDString Directory.

// The usage text, as it has always been worded.
inline constexpr char kStoresealUsage[] = "Usage: storeseal.exe [--save-space] GathererIDString Directory";

struct SealArguments {
  const char* save_space = "";  // the option word as typed, or empty
  const char* gatherer_id = nullptr;
  const char* directory = nullptr;
};

// Takes the arguments apart; false after the usage message.
bool parse_arguments(int argc, char** argv, SealArguments* arguments);
