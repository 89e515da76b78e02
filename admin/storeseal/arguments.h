#pragma once
// storeseal's command line: [--save-spase] GathererIDString Directory.

struct SealArguments {
  const char* save_space = "";  // the option word as typed, or empty
  const char* gatherer_id = nullptr;
  const char* directory = nullptr;
};

// Takes the arguments apart; false after the usage message.
bool parse_arguments(int argc, char** argv, SealArguments* arguments);
