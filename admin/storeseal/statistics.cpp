#include "admin/storeseal/statistics.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "admin/common/command_line.h"
#include "admin/common/data_files.h"
#include "admin/common/exec_cmd.h"
#include "admin/common/registry_settings.h"
#include "admin/common/step.h"
#include "admin/common/tool_word.h"
#include "port/file.h"

namespace {

// The templates and the counts are made as steps of their own, each one's
// status seen: a pipeline's status would be only that of its last member.
constexpr char kTemplates[] = "storeseal.out";
constexpr char kNewInfo[] = "storeseal.soif";

}  // namespace

bool StatisticsLines::compose(const char* gatherer_id, SealOutput* out) {
  char perl[kLineSize];
  char gzip[kLineSize];
  char id[kLineSize];
  char body[kLineSize];
  const int perl_word = tool_word(TOOL_PERL, "perl", perl, sizeof perl);
  const int gzip_word = tool_word(TOOL_GZIP, "gzip", gzip, sizeof gzip);
  if (path_refusal(perl_word) != nullptr || path_refusal(gzip_word) != nullptr) {
    const bool perl_refused = path_refusal(perl_word) != nullptr;
    out->error("The %s path %s; no command line can carry it.", perl_refused ? "Perl" : "gzip",
               path_refusal(perl_refused ? perl_word : gzip_word));
    return false;
  }
  // An expanded value could even close the ID's quotes.
  int id_word = check_line_value(gatherer_id, false);
  if (id_word == 0) id_word = quote_argument(gatherer_id, id, sizeof id);
  if (path_refusal(id_word) != nullptr) {
    out->error("The gatherer ID %s; no command line can carry it.", path_refusal(id_word));
    return false;
  }
  const bool fits =
      perl_word == 0 && gzip_word == 0 && id_word == 0 &&
      compose_line(body, sizeof body, "%s -V > \\nul 2> \\nul", gzip) &&
      compose_shell_line(probe_, sizeof probe_, body) &&
      compose_line(body, sizeof body, "%s -d < %s > %s", gzip, kDump, kTemplates) &&
      compose_shell_line(from_dump_, sizeof from_dump_, body) &&
      compose_line(from_database_, sizeof from_database_, "cmd.exe /C dbmtool print -exportd %s > %s", kProduction,
                   kTemplates) &&
      compose_line(body, sizeof body, "%s -S crawlstats.pl %s < %s > %s", perl, id, kTemplates, kNewInfo) &&
      compose_shell_line(count_, sizeof count_, body);
  if (!fits) {
    out->error("The gatherer ID and the Perl and gzip paths make a command line longer than %d bytes.",
               kLineSize - 1);
    return false;
  }
  // Each value was checked alone; a lone percent sign of the Perl path may
  // still pair with one of the gatherer ID in the line they share.
  for (const char* line : {probe_, from_dump_, count_}) {
    if (interpreter_may_expand(line)) {
      out->error("The Perl and gzip paths hold percent signs that the command interpreter would expand; no command "
                 "line can carry them.");
      return false;
    }
  }
  return true;
}

bool StatisticsLines::write(bool dump_is_new, bool product_mode, SealOutput* out) {
  // An old dump would describe the old database.
  const bool from_dump = dump_is_new && exec_cmd_in_order(probe_) == 0;
  char detail[128];
  bool made = run_step(from_dump ? from_dump_ : from_database_, from_dump ? "gzip" : "dbmtool", {kTemplates}, detail,
                       sizeof detail) &&
              run_step(count_, "perl", {kNewInfo}, detail, sizeof detail);
  port::remove_file(kTemplates);
  if (made && port::exists(kInfo)) port::make_writable(kInfo);
  if (made && port::replace_file(kNewInfo, kInfo) != 0) {
    std::snprintf(detail, sizeof detail, "cannot put %s in the place of %s, errno=%d", kNewInfo, kInfo, errno);
    made = false;
  }
  if (!made) {
    port::remove_file(kNewInfo);
    out->error("Generating the statistics failed (%s); %s %s.", detail, kInfo,
               port::exists(kInfo) ? "still holds the statistics of the previous database" : "is not there");
    return false;
  }
  if (product_mode) exec_cmd_in_order("cmd.exe /C ridOrizIdor < INFO.soif > INFO_J.txt 2>&1");
  return true;
}
