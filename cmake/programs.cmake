# The system's programs, named once. The summarizers' build, the install
# rules (and so the packages), the manual pages and the manual-page test all
# read these lists; a program built with lorvex_program() that is missing
# here stops the configuration (install.cmake checks).

# The system's version: what every program answers to --version and what the
# packages carry.
set(LORVEX_VERSION 1.0.0)

# The HTML summarizers: one source, the program name given by the build.
set(LORVEX_HTML_SUMMARIZERS htmlsift htmlsift2)

# The document-filter summarizers: one source and one manual page source for
# all of them. Each entry: its name | the documents it reads (roff, for its
# page) | whether it asks the filter for the body text only | an example
# file for its page.
set(LORVEX_FILTER_SUMMARIZERS
    "freelancesift|Freelance presentations|yes|slides.prz"
    "ichitarosift|Ichitaro documents|yes|letter.jtd"
    "ppointsift|PowerPoint presentations|no|slides.ppt"
    "rtfsift|RTF documents|no|notes.rtf"
    "pdfsift|PDF documents|yes|~/lorvex\\-demo/gatherers/demo/documents/report.pdf"
    "wordsift|Word documents|no|report.doc"
    "lotus123sift|Lotus 1\\-2\\-3 worksheets|yes|budget.123"
    "writesift|Write documents|yes|memo.wri")

# Splits an entry of LORVEX_FILTER_SUMMARIZERS into the four variables named.
function(lorvex_filter_summarizer entry name_var documents_var body_only_var example_var)
  string(REPLACE "|" ";" fields "${entry}")
  list(GET fields 0 name)
  list(GET fields 1 documents)
  list(GET fields 2 body_only)
  list(GET fields 3 example)
  set(${name_var} "${name}" PARENT_SCOPE)
  set(${documents_var} "${documents}" PARENT_SCOPE)
  set(${body_only_var} "${body_only}" PARENT_SCOPE)
  set(${example_var} "${example}" PARENT_SCOPE)
endfunction()

set(LORVEX_FILTER_SUMMARIZER_NAMES)
foreach(entry IN LISTS LORVEX_FILTER_SUMMARIZERS)
  lorvex_filter_summarizer("${entry}" name documents body_only example)
  list(APPEND LORVEX_FILTER_SUMMARIZER_NAMES ${name})
endforeach()

# Every program of the system: each is installed into bin/ and has a manual
# page on POSIX. The interpreter cmd is a program of the POSIX target only
# ("cmd.exe /C" reaches it there), and so are the scheduler's cycle command
# and the status command, which serve a POSIX installation's service user.
set(LORVEX_PROGRAMS cyclerun storeseal packdump LaunchCrawler LaunchServer StopServer skim
    ${LORVEX_HTML_SUMMARIZERS} ${LORVEX_FILTER_SUMMARIZER_NAMES})
if(NOT LORVEX_TARGET_WINDOWS)
  list(APPEND LORVEX_PROGRAMS cmd lorvex-cycle lorvex-status)
endif()
