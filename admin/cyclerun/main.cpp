// cyclerun: runs one gathering cycle of one gatherer from its settings file.
#include <cstdio>

#include "admin/common/diagnostics.h"
#include "admin/cyclerun/cycle.h"
#include "admin/cyclerun/settings.h"
#include "port/env.h"

int LORVEX_PROGRAM_ENTRY(int argc, char** argv) {
  if (argc != 2) {
    Diagnostics("cyclerun").say("Usage: cyclerun.exe ini_file");
    return 1;
  }
  // An inherited proxy never reaches the tools; only the settings file can set one.
  port::put_env("http_proxy=");

  SettingsStore settings;
  read_settings(argv[1], &settings);
  run_cycle(argv[1], settings);

  settings.release();
  std::fclose(stderr);
  return 0;
}
