#pragma once
// The outcome records: what each program of a gathering cycle leaves of its
// run, for the programs after it to read as typed values, never as text
// meant for people. A record is a few "key=value" lines: its version, the
// program that wrote it, the cycle it belongs to, then the program's own
// keys. It is written whole or not at all, and a reader takes a record for
// missing unless every line is one it knows, once, with a value of its kind.
#include <cstddef>
#include <map>
#include <string>

#include "port/file.h"

// The cycle a run belongs to: 32 lower-case hexadecimal digits, made by the
// cycle command and inherited by every program of the cycle. A record
// belongs to a cycle exactly when it carries its id.
inline constexpr char kCycleIdVariable[] = "LORVEX_CYCLE_ID";
inline constexpr std::size_t kCycleIdLength = 32;
// The id a record carries when its run was started outside any cycle.
inline constexpr char kNoCycle[] = "-";

// The records of the cycle's programs: the driver's in its working
// directory, the finishing programs' in the data directory.
inline constexpr char kCyclerunRecord[] = "cyclerun.outcome";
inline constexpr char kStoresealRecord[] = "storeseal.outcome";
inline constexpr char kPackdumpRecord[] = "packdump.outcome";

// The most a record holds; a longer file is no record.
inline constexpr std::size_t kRecordLimit = 4096;
// The most of one text value that is kept: a longer text is cut after a
// whole character and ends in " ...".
inline constexpr std::size_t kRecordTextLimit = 1024;

// The cycle id of this run: LORVEX_CYCLE_ID when it holds one, else kNoCycle.
std::string cycle_of_this_run();
// Whether the text is a cycle id.
bool is_cycle_id(const std::string& text);

// What a value of a record may be.
enum class ValueKind {
  kWord,      // one of the rule's words
  kNumber,    // a decimal number within the rule's bounds
  kResult,    // a child's end: "exit N", "signal N" or "no-start ERRNO"
  kIdentity,  // a file's "DEVICE:INDEX:SIZE:MODIFIED", or "-" for no file
  kCycle,     // a cycle id, or "-"
  kText,      // any text of printable bytes, at most kRecordTextLimit + 4
};

struct ValueRule {
  const char* key;
  ValueKind kind;
  bool required;
  const char* const* words = nullptr;  // kWord: null-terminated
  long long low = 0;                   // kNumber
  long long high = 0;
};

// The keys of one program's record, beside version, program and cycle.
struct RecordSchema {
  const char* program;
  const ValueRule* rules;
  std::size_t count;
};

// The schemas of the records this system writes: the cycle's programs', and
// the cycle command's own (the cycle it began, and the last one it ended).
extern const RecordSchema kCyclerunSchema;
extern const RecordSchema kStoresealSchema;
extern const RecordSchema kPackdumpSchema;
extern const RecordSchema kCycleBeganSchema;
extern const RecordSchema kLastCycleSchema;

// Composes a record. Values are given as the program has them; a text
// longer than the limit is cut, so that what is written is always a record
// its reader takes.
class RecordWriter {
 public:
  explicit RecordWriter(const char* program, const std::string& cycle = cycle_of_this_run());
  void add(const char* key, const std::string& value);
  // A text or path in the system's encoding, as the program has it: its
  // bytes as they are, only a control byte written as \xNN.
  void add_text(const char* key, const std::string& text);
  // A text in the system's encoding for people to read, kept in UTF-8 with
  // its control characters made visible (port/reader_text.h): the records
  // of the service's own commands, which a journal and a terminal show.
  void add_text_for_reader(const char* key, const std::string& text);
  void add_number(const char* key, long long value);
  const std::string& text() const { return text_; }
  // Puts the record in the place of the file at path, whole (port's
  // write_whole_file). 0, or -1 with errno.
  int write(const std::string& path) const;

 private:
  std::string text_;
};

// A record as read: each key's value.
class Record {
 public:
  bool has(const std::string& key) const { return values_.count(key) != 0; }
  // The value, or "" when the record has no such key.
  const std::string& get(const std::string& key) const;
  std::map<std::string, std::string>& values() { return values_; }

 private:
  std::map<std::string, std::string> values_;
};

// Reads a record's text against the schema. True when it is a record of
// the schema's program and of the cycle given (kNoCycle: of no cycle; an
// empty cycle: of any); otherwise false with the reason in *why.
bool parse_record(const std::string& text, const RecordSchema& schema, const std::string& cycle, Record* record,
                  std::string* why);

// Reads the record at path: the file at the name itself, a regular file of
// at most kRecordLimit bytes, owned by root or by tree_owner and writable by
// no one else (on POSIX), then parse_record. False with the reason in *why
// when it is missing or is no such record.
bool read_record(const std::string& path, const RecordSchema& schema, const std::string& cycle,
                 unsigned long tree_owner, Record* record, std::string* why);

// A child's end as a kResult value: "exit N", "signal N" or "no-start ERRNO".
std::string result_value(int status, int signal, int start_errno);
// What a kResult value says for people: "ended with status 1", "was killed
// by signal 11", "could not be started (errno=2)".
std::string result_words(const std::string& value);
// Whether a kResult value is a clean end.
bool result_clean(const std::string& value);

// A file's identity as a kIdentity value: "-" when there is no such file.
std::string identity_value(const char* path);
std::string identity_value(const port::FileIdentity& identity);
