# Runs each fuzz target of the fuzz build for a few seconds as part of ctest.
set(LORVEX_FUZZ_SECONDS 5 CACHE STRING "Seconds each fuzz target runs in the test run")
foreach(target fuzz_cmdline fuzz_cmd_parse fuzz_registry fuzz_skim fuzz_settings_line fuzz_catalogue)
  add_test(NAME fuzz.${target}
           COMMAND ${LORVEX_FUZZ_BUILD_DIR}/fuzz/${target}
                   -max_total_time=${LORVEX_FUZZ_SECONDS} -rss_limit_mb=2048 -print_final_stats=0)
  set_tests_properties(fuzz.${target} PROPERTIES LABELS fuzz TIMEOUT 120)
endforeach()
