# Runs each fuzz target of the fuzz build for a few seconds as part of ctest,
# from the corpus kept in the tree (tests/fuzz/corpus/NAME/), so that every
# regression input there is replayed first. New units go into a folder of the
# build tree; the tree's corpus is only read. tests/fuzz/campaign runs longer.
set(LORVEX_FUZZ_SECONDS 5 CACHE STRING "Seconds each fuzz target runs in the test run")
foreach(target fuzz_cmdline fuzz_cmd_parse fuzz_registry fuzz_skim fuzz_settings_line fuzz_catalogue
               fuzz_process_settings fuzz_pid_file fuzz_outcome_records)
  set(work ${CMAKE_BINARY_DIR}/fuzz-corpus/${target})
  file(MAKE_DIRECTORY ${work})
  add_test(NAME fuzz.${target}
           COMMAND ${LORVEX_FUZZ_BUILD_DIR}/fuzz/${target} ${work} ${PROJECT_SOURCE_DIR}/tests/fuzz/corpus/${target}
                   -max_total_time=${LORVEX_FUZZ_SECONDS} -rss_limit_mb=2048 -print_final_stats=0)
  set_tests_properties(fuzz.${target} PROPERTIES LABELS fuzz TIMEOUT 120)
endforeach()
