// skim: abstracts troff-style documents. Reads the inputs named on the
// command line ("-" is standard input; none at all means standard input) line
// by line and writes the abstract to standard output.
#include <cstdio>
#include <cstring>

#include "port/help_version.h"
#include "port/stream.h"
#include "tools/skim/lines.h"
#include "tools/skim/pieces.h"

namespace {

enum class Next { kOpened, kNoneLeft, kFailed };

// The inputs not yet opened, and the one being read.
class Inputs {
 public:
  // A program may be started with no argument vector at all (argc 0).
  Inputs(int argc, char** argv) : args_(argc > 0 ? argv + 1 : argv), left_(argc > 1 ? argc - 1 : 0) {}

  bool any_named() const { return left_ > 0; }
  std::FILE* current() const { return current_; }
  // Named files are documents of this platform: read in text mode, the same
  // on both targets. Standard input passes byte for byte.
  bool current_is_text() const { return current_ != stdin; }

  Next open_next() {
    if (left_ == 0) return Next::kNoneLeft;
    const char* arg = *args_;
    std::FILE* next = nullptr;
    if (std::strcmp(arg, "-") == 0) {
      next = stdin;
    } else {
      // Through the port, so that separators and refusals (a directory)
      // are those of Windows on both targets.
      next = port::open_file(arg, "r");
      if (next == nullptr) {
        std::perror("skim: fopen");
        return Next::kFailed;
      }
    }
    // A finished file is closed so that any number of inputs can be read;
    // standard input stays, it may be named again.
    if (current_ != stdin) std::fclose(current_);
    current_ = next;
    ++args_;
    --left_;
    return Next::kOpened;
  }

 private:
  char** args_;
  int left_;
  std::FILE* current_ = stdin;
};

// The abstract must reach its reader whole; a failed write is not a success.
int finish(int status) {
  if (std::fflush(stdout) != 0) {
    std::perror("skim: fputs");
    return 1;
  }
  return status;
}

}  // namespace

int LORVEX_PROGRAM_ENTRY(int argc, char** argv) {
  // --help or --version alone is answered, not read as a file's name.
  if (const int answered = port::answer_help_or_version(argc, argv, "skim", "Usage: skim.exe [file ...]");
      answered >= 0) {
    return answered;
  }
  // Lines pass through byte for byte: no line-end translation on the standard streams.
  port::set_binary_mode(stdin);
  port::set_binary_mode(stdout);

  Inputs inputs(argc, argv);
  if (inputs.any_named() && inputs.open_next() == Next::kFailed) return finish(1);

  skim::LineHandler handler;
  skim::PieceReader reader;
  reader.start(inputs.current(), inputs.current_is_text());
  for (;;) {
    // While skipping, only kept lines matter: the others are dropped unseen.
    const char* const line = handler.skipping() ? reader.next_kept_line() : reader.next();
    if (line == nullptr) {
      // A read error is not the end of the input.
      if (reader.failed()) {
        std::perror("skim: fread");
        return finish(1);
      }
      switch (inputs.open_next()) {
        case Next::kOpened:
          reader.start(inputs.current(), inputs.current_is_text());
          continue;
        case Next::kNoneLeft: return finish(0);
        case Next::kFailed: return finish(1);
      }
    }
    const skim::Verdict verdict = handler.handle(line);
    if ((verdict.write_line && std::fputs(line, stdout) == EOF) ||
        (verdict.write_marker && std::fputs(skim::kMarker, stdout) == EOF)) {
      std::perror("skim: fputs");
      return 1;
    }
    if (verdict.stop) return finish(0);
  }
}
