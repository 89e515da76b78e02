#pragma once
// The settings file of a gatherer's processes, read alike by the gatherer's
// launcher, the export daemon's starter and its stopper: NAME=value lines,
// a few keys the program keeps (some of them also put into the environment),
// a few it skips, and every other line put into the environment whole, in
// file order, so that the programs they start inherit them.
#include <cstdio>
#include <initializer_list>
#include <string>

#include "admin/common/settings_line.h"
#include "port/change_rule.h"

// A line is read in pieces of at most this many bytes less one; each piece
// counts as a line of its own.
constexpr int kProcessLineSize = 260;

enum class KeyUse {
  kKeep,           // kept, not put into the environment
  kKeepAndExport,  // kept, and the whole line put into the environment
  kSkip,           // neither kept nor put into the environment
};

struct KeyRule {
  const char* name;  // compared exactly, letter case included
  KeyUse use;
  // A directory: a relative value is made absolute against the directory
  // the reader runs in, so that it names the same directory after the
  // program (or a child it starts) has changed directory. The value put
  // into the environment is the absolute one too.
  bool directory = false;
};

enum class ReadResult {
  kRead,
  // open_error() holds the runtime's error number: EPERM, with
  // others_can_change() set, when another user can change the file
  kCannotOpen,
  kInvalid,     // a line without name or value, with a zero byte, or a read error
  kOtherEncoding,  // saved as Unicode (other_encoding_refusal() says which); no line taken
};

// What a reader does with the lines its programs' children are to inherit.
enum class OtherLines {
  kExport,  // put into the environment (the programs that start the processes)
  kIgnore,  // left out: a command that only looks at the gatherer, whose own
            // settings (the registry, the event log) no gatherer's file may change
};

class ProcessSettings final : private SettingsTaker {
 public:
  static constexpr int kMaxRules = 4;

  // The rules name the keys this reader knows (at most kMaxRules).
  ProcessSettings(const KeyRule* rules, int count, OtherLines other = OtherLines::kExport);
  template <int N>
  explicit ProcessSettings(const KeyRule (&rules)[N], OtherLines other = OtherLines::kExport)
      : ProcessSettings(rules, N, other) {
    static_assert(N <= kMaxRules, "more rules than slots");
  }
  ProcessSettings(const ProcessSettings&) = delete;
  ProcessSettings& operator=(const ProcessSettings&) = delete;

  // Reads the file. Lines before an invalid one have already gone into the
  // environment when kInvalid comes back. A later line of a key wins.
  ReadResult read(const char* path);
  // The same from a stream opened in text mode, which stays open.
  ReadResult read(std::FILE* file);
  int open_error() const { return open_error_; }
  // After kOtherEncoding, what is said after the file's name.
  std::string other_encoding_refusal() const { return ::other_encoding_refusal(encoding_); }
  // When the file was not read because another user can change it: what
  // lets them in (port/change_rule.h); else null.
  const port::PathVerdict* others_can_change() const {
    return refused_.exposure != port::Exposure::kNone ? &refused_ : nullptr;
  }

  // The kept value of a key, or null when the file did not give it.
  const char* get(const char* name) const;
  // The first of the keys whose kept value ends in half a double-byte
  // character (a path no separator can be joined after), or null.
  const char* key_ending_in_half_character(std::initializer_list<const char*> names) const;

 private:
  static constexpr SettingsShape kShape{kProcessLineSize, kProcessLineSize, LongLine::kInPieces};
  bool take(const char* line, const char* name, const char* value) override;
  ReadResult result_of(const SettingsOutcome& outcome);

  struct Slot {
    KeyRule rule{};
    bool present = false;
    std::string value;
  };
  Slot slots_[kMaxRules];
  int count_ = 0;
  OtherLines other_;
  int open_error_ = 0;
  const char* encoding_ = nullptr;
  port::PathVerdict refused_;
};
