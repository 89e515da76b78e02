// Benchmark driver.
//   lxbench troff FILE BYTES
//       writes the generated troff document
//   lxbench compare RUNS LABEL_A COMMAND_A LABEL_B COMMAND_B [TARGET]
//       runs both command lines RUNS times each, alternating, after one
//       untimed run of each; writes their median wall times, the ratio A/B and
//       the difference A-B to standard error. TARGET is "ratio<=X" or
//       "difference<=Y" or "median<=Z" (milliseconds, A's own median): the figure is then judged against it and
//       the exit status is 3 when it misses. The children inherit standard
//       output, so the caller decides where their output goes.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "bench/troff_gen.h"
#include "port/process.h"

namespace {

// Wall time of one run in milliseconds, or a negative value when the command
// failed (a benchmark of a failing command measures nothing).
double time_run(const char* command_line) {
  int start_error = 0;
  const auto begin = std::chrono::steady_clock::now();
  const int status = port::run_child(command_line, port::ChildOptions{}, &start_error);
  const auto end = std::chrono::steady_clock::now();
  if (status != 0) {
    if (status == -1) {
      std::fprintf(stderr, "lxbench: cannot start %s (error %d)\n", command_line, start_error);
    } else {
      std::fprintf(stderr, "lxbench: %s ended with status %d\n", command_line, status);
    }
    return -1;
  }
  return std::chrono::duration<double, std::milli>(end - begin).count();
}

double median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t mid = values.size() / 2;
  return values.size() % 2 ? values[mid] : (values[mid - 1] + values[mid]) / 2;
}

enum class Figure { kRatio, kDifference, kMedian };

struct Target {
  Figure figure = Figure::kRatio;
  double limit = 0;
};

bool parse_target(const std::string& text, Target* target) {
  const struct {
    const char* prefix;
    Figure figure;
  } kinds[] = {{"ratio<=", Figure::kRatio}, {"difference<=", Figure::kDifference}, {"median<=", Figure::kMedian}};
  for (const auto& kind : kinds) {
    const std::string prefix = kind.prefix;
    if (text.rfind(prefix, 0) != 0) continue;
    char* end = nullptr;
    target->figure = kind.figure;
    target->limit = std::strtod(text.c_str() + prefix.size(), &end);
    return end != text.c_str() + prefix.size() && *end == '\0' && target->limit > 0;
  }
  return false;
}

int compare(int runs, const char* label_a, const char* command_a, const char* label_b,
            const char* command_b, const Target* target) {
  if (time_run(command_a) < 0 || time_run(command_b) < 0) return 1;
  std::vector<double> a, b;
  for (int i = 0; i < runs; ++i) {
    const double ta = time_run(command_a);
    const double tb = time_run(command_b);
    if (ta < 0 || tb < 0) return 1;
    a.push_back(ta);
    b.push_back(tb);
  }
  const double ma = median(a), mb = median(b);
  std::fprintf(stderr, "  %-28s median %10.3f ms  (min %.3f, max %.3f, %d runs)\n", label_a, ma,
               *std::min_element(a.begin(), a.end()), *std::max_element(a.begin(), a.end()), runs);
  std::fprintf(stderr, "  %-28s median %10.3f ms  (min %.3f, max %.3f, %d runs)\n", label_b, mb,
               *std::min_element(b.begin(), b.end()), *std::max_element(b.begin(), b.end()), runs);
  std::fprintf(stderr, "  ratio %s / %s = %.2f; difference %.3f ms\n", label_a, label_b, ma / mb,
               ma - mb);
  if (target == nullptr) return 0;
  const bool ratio = target->figure == Figure::kRatio;
  const double figure = ratio ? ma / mb : target->figure == Figure::kDifference ? ma - mb : ma;
  const bool met = figure <= target->limit;
  const char* name = ratio ? "ratio" : target->figure == Figure::kDifference ? "difference" : "median of A";
  std::fprintf(stderr, "  target: %s at most %g%s: %s\n", name, target->limit, ratio ? "" : " ms",
               met ? "met" : "MISSED");
  return met ? 0 : 3;
}

int usage() {
  std::fputs("usage: lxbench troff FILE BYTES\n"
             "       lxbench compare RUNS LABEL_A COMMAND_A LABEL_B COMMAND_B [TARGET]\n"
             "       TARGET: ratio<=X, difference<=MILLISECONDS or median<=MILLISECONDS (of A)\n",
             stderr);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "troff" && argc == 4) {
    const long long bytes = std::atoll(argv[3]);
    std::FILE* out = std::fopen(argv[2], "wb");
    if (out == nullptr || bytes <= 0) return usage();
    const int result = bench::write_troff(out, bytes);
    return std::fclose(out) == 0 && result == 0 ? 0 : 1;
  }
  if (mode == "compare" && (argc == 7 || argc == 8)) {
    const int runs = std::atoi(argv[2]);
    Target target;
    if (runs <= 0 || (argc == 8 && !parse_target(argv[7], &target))) return usage();
    return compare(runs, argv[3], argv[4], argv[5], argv[6], argc == 8 ? &target : nullptr);
  }
  return usage();
}
