// The harness: the recording double's journal.
#include "tests/programs/harness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

namespace lxt {

// ---- journal ---------------------------------------------------------------

std::vector<EnvChange> journal_env(const std::string& path, const std::string& env_names) {
  std::vector<EnvChange> out{{"LXT_JOURNAL", host_path(path)}};
  if (!env_names.empty()) out.push_back({"LXT_ENV", env_names});
  return out;
}

// The record format of lxrecord: "record\n", then fields "KEY LENGTH\n" +
// LENGTH bytes + "\n" (an unset variable: "unset:NAME\n"), then "end\n".
std::vector<Record> read_journal(const std::string& path) {
  std::vector<Record> records;
  const std::string text = read_file(path);
  size_t pos = 0;
  auto line = [&](std::string* out) {
    size_t nl = text.find('\n', pos);
    if (nl == std::string::npos) return false;
    *out = text.substr(pos, nl - pos);
    pos = nl + 1;
    return true;
  };
  auto fail = [&](const std::string& why) {
    ADD_FAILURE() << "malformed journal " << path << " at byte " << pos << ": " << why;
    return records;
  };
  std::string l;
  while (pos < text.size()) {
    if (!line(&l) || l != "record") return fail("no record start");
    Record rec;
    for (;;) {
      if (!line(&l)) return fail("record without end");
      if (l == "end") break;
      if (l.rfind("unset:", 0) == 0) {
        rec.env[l.substr(6)] = std::nullopt;
        continue;
      }
      size_t sp = l.rfind(' ');
      if (sp == std::string::npos) return fail("field without length: " + l);
      const std::string key = l.substr(0, sp);
      char* endp = nullptr;
      unsigned long long len = std::strtoull(l.c_str() + sp + 1, &endp, 10);
      if (*endp != '\0' || len > text.size() - pos || pos + len >= text.size() ||
          text[pos + len] != '\n')
        return fail("bad length in " + l);
      std::string value = text.substr(pos, len);
      pos += len + 1;
      if (key == "program") rec.program = value;
      else if (key == "argv0") rec.argv0 = value;
      else if (key == "arg") rec.args.push_back(value);
      else if (key == "cwd") rec.cwd = value;
      else if (key == "stdin") rec.stdin_data = value;
      else if (key == "pid") rec.pid = std::strtol(value.c_str(), nullptr, 10);
      else if (key == "file") rec.files.push_back(value);
      else if (key.rfind("env:", 0) == 0) rec.env[key.substr(4)] = value;
      else return fail("unknown field " + key);
    }
    records.push_back(std::move(rec));
  }
  return records;
}

std::vector<std::string> journal_programs(const std::string& path) {
  std::vector<std::string> names;
  for (const Record& record : read_journal(path)) names.push_back(record.program);
  return names;
}

}  // namespace lxt
