#include "admin/lorvexstatus/state.h"

#include <cerrno>
#include <cstdlib>

#include "port/reader_text.h"

namespace {

// Each field in turn, for writing and for reading alike, so that the two
// can never disagree on the order.
template <class Visit>
void each_field(GathererState& state, Visit&& visit) {
  visit(state.settings);
  visit(state.name);
  visit(state.problem);
  visit(state.cycle_at_work);
  visit(state.cycle_why);
  visit(state.daemon);
  visit(state.daemon_why);
  visit(state.last_cycle);
  visit(state.last_unknown);
  visit(state.last_status);
  visit(state.interrupted);
  visit(state.last_clean_at);
  visit(state.finishing);
  visit(state.finishing_failed);
  visit(state.templates);
  visit(state.database_age);
  visit(state.database_written);
  visit(state.database_unknown);
  visit(state.warnings);
}

// A string as its length, a blank and its bytes; a number in decimal; each
// followed by a line feed.
struct Writer {
  std::string text;
  void operator()(const std::string& value) { text += std::to_string(value.size()) + " " + value + "\n"; }
  void operator()(long long value) { text += std::to_string(value) + "\n"; }
  void operator()(int value) { (*this)(static_cast<long long>(value)); }
  void operator()(bool value) { (*this)(static_cast<long long>(value)); }
  void operator()(Seen value) { (*this)(static_cast<long long>(value)); }
  void operator()(const std::vector<std::string>& values) {
    (*this)(static_cast<long long>(values.size()));
    for (const std::string& value : values) (*this)(value);
  }
};

struct Reader {
  const std::string& text;
  std::size_t at = 0;
  bool good = true;

  // A decimal number in range, up to the byte that ends it.
  bool number(long long* value, long long low, long long high, char ends = '\n') {
    const std::size_t end = text.find(ends, at);
    if (!good || end == std::string::npos || end == at) return good = false;
    errno = 0;
    char* stop = nullptr;
    const long long read = std::strtoll(text.c_str() + at, &stop, 10);
    if (errno != 0 || stop != text.c_str() + end || read < low || read > high) return good = false;
    *value = read;
    at = end + 1;
    return true;
  }
  void operator()(std::string& value) {
    long long size = 0;
    if (!number(&size, 0, static_cast<long long>(text.size()), ' ')) return;
    const std::size_t length = static_cast<std::size_t>(size);
    if (length > text.size() - at || text.compare(at + length, 1, "\n") != 0) {
      good = false;
      return;
    }
    value = text.substr(at, length);
    at += length + 1;
  }
  void operator()(long long& value) { number(&value, -1, 1LL << 62); }
  void operator()(int& value) {
    long long read = 0;
    if (number(&read, -1, 255)) value = static_cast<int>(read);
  }
  void operator()(bool& value) {
    long long read = 0;
    if (number(&read, 0, 1)) value = read == 1;
  }
  void operator()(Seen& value) {
    long long read = 0;
    if (number(&read, 0, 2)) value = static_cast<Seen>(read);
  }
  void operator()(std::vector<std::string>& values) {
    long long count = 0;
    if (!number(&count, 0, 10000)) return;
    values.assign(static_cast<std::size_t>(count), std::string());
    for (std::string& value : values) (*this)(value);
  }
};

std::string readable(const std::string& text) { return port::text_for_reader(text, port::TextFor::kRecord); }

}  // namespace

void make_readable(GathererState* state) {
  for (std::string* text : {&state->settings, &state->name, &state->problem, &state->cycle_why, &state->daemon_why,
                            &state->finishing}) {
    *text = readable(*text);
  }
  for (std::string& warning : state->warnings) warning = readable(warning);
}

std::string state_text(const GathererState& state) {
  Writer writer;
  each_field(const_cast<GathererState&>(state), writer);
  return writer.text;
}

bool state_from_text(const std::string& text, GathererState* state) {
  GathererState read;
  Reader reader{text};
  each_field(read, reader);
  if (!reader.good || reader.at != text.size()) return false;
  *state = std::move(read);
  return true;
}

bool GathererState::needs_attention() const {
  // 75 says that a cycle was already at work: no fault of its own.
  const bool last_failed = last_status != -1 && last_status != 0 && last_status != 75;
  return !problem.empty() || cycle_at_work == Seen::kCannotTell || daemon == "cannot tell" || last_failed ||
         last_unknown || interrupted || finishing_failed || !warnings.empty();
}

std::string age_text(long long seconds) {
  if (seconds < 0) seconds = 0;  // a clock set back
  const long long days = seconds / 86400, hours = seconds % 86400 / 3600, minutes = seconds % 3600 / 60;
  if (days > 0) return std::to_string(days) + "d " + std::to_string(hours) + "h";
  if (hours > 0) return std::to_string(hours) + "h " + std::to_string(minutes) + "m";
  if (minutes > 0) return std::to_string(minutes) + "m " + std::to_string(seconds % 60) + "s";
  return std::to_string(seconds) + "s";
}
