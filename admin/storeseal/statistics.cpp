#include "admin/storeseal/statistics.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "admin/common/command_line.h"
#include "admin/common/data_files.h"
#include "admin/common/exec_cmd.h"
#include "admin/common/finishing.h"
#include "admin/common/step.h"
#include "admin/common/tool_word.h"
#include "port/file.h"

namespace {

// The templates and the counts are made as steps of their own, each one's
// status seen: a pipeline's status would be only that of its last member.
constexpr char kTemplates[] = "storeseal.out";
constexpr char kNewInfo[] = "storeseal.soif";
// The Japanese rendering, made under a work name of its own: the old one
// stays whole until a whole new one takes its place.
constexpr char kNewRendering[] = "storeseal.txt";

}  // namespace

bool StatisticsLines::compose(const char* gatherer_id, SealOutput* out) {
  char perl[kLineSize];
  char gzip[kLineSize];
  char id[kLineSize];
  char body[kLineSize];
  const int perl_word = tool_word(installation::Tool::kPerl, "perl", perl, sizeof perl, &perl_program_);
  const int gzip_word = tool_word(installation::Tool::kGzip, "gzip", gzip, sizeof gzip, &gzip_program_);
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
      compose_gzip_probe(probe_, sizeof probe_, gzip, ProbeOutput::kSeparately) &&
      compose_line(body, sizeof body, "%s -d < %s > %s", gzip, kDump, kTemplates) &&
      compose_shell_line(from_dump_, sizeof from_dump_, body) &&
      compose_template_export(from_database_, sizeof from_database_, kTemplates) &&
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

bool StatisticsLines::write(bool dump_is_new, SealOutput* out) {
  // An old dump would describe the old database. Templates are never read
  // as none from a file that holds some.
  char detail[128];
  bool made = false;
  if (dump_is_new && exec_cmd_in_order(probe_) == 0) {
    StepFailure failure = StepFailure::kNone;
    made = run_step({.line = from_dump_, .name = "gzip", .program = gzip_program_.c_str(), .output = kTemplates,
                     .source = kDump},
                    detail, sizeof detail, &failure);
    // The export daemon serves that dump: that gzip cannot unpack it is
    // said, and the statistics still come from the database.
    dump_unreadable_ = failure == StepFailure::kStatus || failure == StepFailure::kEmpty;
    if (dump_unreadable_) {
      out->error("The new %s cannot be read (%s); the statistics are made from %s.", kDump, detail, kProduction);
    }
  }
  if (!made) {
    made = run_step({.line = from_database_, .name = "dbmtool", .program = "dbmtool", .output = kTemplates,
                     .source = kProduction},
                    detail, sizeof detail);
  }
  made = made && run_step({.line = count_,
                        .name = "perl",
                        .program = perl_program_.c_str(),
                        .output = kNewInfo,
                        .may_be_empty = false},
                       detail, sizeof detail);
  port::remove_file(kTemplates);
  made = made && placed(kNewInfo, kInfo, detail, sizeof detail);
  if (!made) {
    port::remove_file(kNewInfo);
    out->error("Generating the statistics failed (%s); %s %s.", detail, kInfo,
               port::exists(kInfo) ? "still holds the statistics of the previous database" : "is not there");
    return false;
  }
  return true;
}

bool StatisticsLines::render(SealOutput* out) {
  char detail[128];
  char line[kLineSize];
  // The rendering's messages go into the work file with it, as they always
  // went into INFO_J.txt; a rendering that fails is never put in place.
  compose_line(line, sizeof line, "cmd.exe /C ridOrizIdor < %s > %s 2>&1", kInfo, kNewRendering);
  const bool made = run_step({.line = line,
                              .name = "ridOrizIdor",
                              .program = "ridOrizIdor",
                              .output = kNewRendering,
                              .may_be_empty = false},
                             detail, sizeof detail) &&
                    placed(kNewRendering, kRendering, detail, sizeof detail);
  if (made) return true;
  port::remove_file(kNewRendering);
  out->error("Rendering the statistics in Japanese failed (%s); %s %s.", detail, kRendering,
             port::exists(kRendering) ? "still holds the rendering of the previous statistics" : "is not there");
  return false;
}

bool StatisticsLines::placed(const char* made, const char* name, char* detail, std::size_t size) {
  if (put_in_place(made, name) == 0) return true;
  std::snprintf(detail, size, "cannot put %s in the place of %s, errno=%d", made, name, errno);
  return false;
}
