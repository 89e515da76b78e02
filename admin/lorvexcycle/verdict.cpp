#include "admin/lorvexcycle/verdict.h"

#include "admin/common/outcome_record.h"

namespace {

// The cycle driver's steps, in the order they run.
constexpr const char* kSteps[] = {"linkprunecmd", "agecullcmd", "keybuildcmd", "pipeline", "storesealcmd"};

Verdict verdict(int status, const std::string& what) { return Verdict{status, what}; }

// What the launcher's line says when it started no gatherer; status 0 when
// it did.
Verdict judge_launcher(const std::string& line) {
  const std::size_t blank = line.find(' ');
  const std::string word = line.substr(0, blank);
  const std::string rest = blank == std::string::npos ? "" : line.substr(blank + 1);
  const bool number = !rest.empty() && rest.size() <= 10 && rest.find_first_not_of("0123456789") == std::string::npos;
  if (line == "started") return verdict(kCycleClean, "");
  if (word == "at-work" && (number || rest == "-")) {
    return verdict(kCycleAtWork, rest == "-" ? "a gatherer is already at work"
                                             : "a gatherer is already at work (process " + rest + ")");
  }
  if (line == "cannot-tell") {
    return verdict(kCycleNotRun, "the launcher cannot tell whether a gatherer is at work (its error line says why)");
  }
  if (line == "refused") return verdict(kCycleNotRun, "the launcher refused to start a gatherer (its error line says why)");
  if (word == "no-start" && number) {
    return verdict(kCycleNotRun, "the launcher could not start the gatherer's script (errno=" + rest + ")");
  }
  return verdict(kCycleNotRun, line.empty() ? "the launcher told no verdict" : "the launcher's verdict cannot be read");
}

// The finishing: storeseal's record of this cycle, in the data directory the
// driver used, says what failed; without one, the driver's step says what it
// can. Status 0 when both say success.
Verdict judge_finishing(const Record& driver, const CycleRecords& records) {
  const std::string& step = driver.get("storesealcmd");
  const std::string ended = result_clean(step) ? "" : "storesealcmd " + result_words(step) + "; ";
  std::string data_dir = driver.get("data-directory");
  if (data_dir.empty()) {
    return verdict(kCycleNotClean, ended + "cyclerun named no data directory for the finishing's record");
  }
  // A directory the driver could not resolve is its working directory's.
  if (data_dir[0] != '/' && data_dir[0] != '\\') data_dir = records.gatherer_dir + "/" + data_dir;
  Record finishing;
  std::string why;
  if (!read_record(data_dir + "/" + kStoresealRecord, kStoresealSchema, records.cycle, records.tree_owner, &finishing,
                   &why)) {
    return verdict(kCycleNotClean, ended + "storeseal left no record of this cycle in " + data_dir + " (" + why + ")");
  }
  if (finishing.get("status") != "0") {
    const std::string& line = finishing.get("line");
    return verdict(kCycleNotClean, "the database finishing failed at its step " + finishing.get("failed") +
                                       (line.empty() ? std::string() : ": " + line));
  }
  if (!ended.empty()) return verdict(kCycleNotClean, "storesealcmd " + result_words(step));
  return verdict(kCycleClean, "");
}

}  // namespace

Verdict judge_cycle(const std::string& launcher, const CycleRecords& records) {
  const Verdict launched = judge_launcher(launcher);
  if (launched.status != kCycleClean) return launched;
  Record driver;
  std::string why;
  if (!read_record(records.gatherer_dir + "/" + kCyclerunRecord, kCyclerunSchema, records.cycle, records.tree_owner,
                   &driver, &why)) {
    return verdict(kCycleNotClean, "cyclerun left no record of this cycle (" + why + ")");
  }
  // The first step that did not end cleanly is what the cycle failed of;
  // the finishing, last, says more of itself in its own record.
  for (const char* step : kSteps) {
    if (driver.has(step) && !result_clean(driver.get(step)) && std::string(step) != "storesealcmd") {
      return verdict(kCycleNotClean, std::string(step) + " " + result_words(driver.get(step)));
    }
  }
  if (driver.get("ended") == "invalid") {
    return verdict(kCycleNotClean, "cyclerun refused its settings (its error line says why)");
  }
  if (!driver.has("pipeline")) return verdict(kCycleNotClean, "cyclerun ran no URL seeding pipeline");
  if (driver.has("storesealcmd")) {
    const Verdict finished = judge_finishing(driver, records);
    if (finished.status != kCycleClean) return finished;
  }
  const std::string& notice = driver.get("notice");
  if (notice == "told") return verdict(kCycleClean, "clean; the search service was told");
  if (notice == "told-nonzero") {
    return verdict(kCycleClean, "clean; the search service was told and answered with a result other than 0");
  }
  return verdict(kCycleNotClean, notice == "none" ? "the cycle ended before the search service was told"
                                                  : "the search service was not told (its message page says why)");
}
