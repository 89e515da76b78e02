// The registry editor's text format, read line by line. The file's bytes are
// Shift_JIS and are taken as they are; only the escapes \\ and \" in quoted
// text are interpreted, per character, so that a double-byte character whose
// second byte is 0x5C is never mistaken for one.
#include "port/posix/registry_file.h"

#include <iconv.h>

#include <cerrno>
#include <cstddef>
#include <optional>
#include <unordered_map>

#include "port/registry.h"
#include "port/text.h"

namespace port::posix {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

std::string_view trim_left(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size() && is_blank(text[pos])) ++pos;
  return text.substr(pos);
}

std::string_view trim_right(std::string_view text) {
  size_t size = text.size();
  while (size > 0 && is_blank(text[size - 1])) --size;
  return text.substr(0, size);
}

// Splits into lines; a carriage return directly before a line feed is dropped
// as text-mode reading drops it.
std::vector<std::string_view> split_lines(const std::string& text) {
  std::vector<std::string_view> lines;
  const std::string_view all(text);
  size_t start = 0;
  while (start < all.size()) {
    size_t end = all.find('\n', start);
    const bool has_lf = end != std::string_view::npos;
    if (!has_lf) end = all.size();
    size_t stop = end;
    if (has_lf && stop > start && all[stop - 1] == '\r') --stop;
    lines.push_back(all.substr(start, stop - start));
    start = has_lf ? end + 1 : end;
  }
  return lines;
}

// Reads quoted text starting at the opening quote text[*pos]. Returns the text
// with \\ and \" resolved and *pos just past the closing quote, or nothing
// when the quote is never closed.
std::optional<std::string> read_quoted(std::string_view text, size_t* pos) {
  std::string out;
  size_t i = *pos + 1;
  while (i < text.size()) {
    const char c = text[i];
    if (c == '"') {
      *pos = i + 1;
      return out;
    }
    if (c == '\\' && i + 1 < text.size() && (text[i + 1] == '\\' || text[i + 1] == '"')) {
      out.push_back(text[i + 1]);
      i += 2;
      continue;
    }
    const size_t len = char_length(text, i);
    out.append(text.substr(i, len));
    i += len;
  }
  return std::nullopt;
}

int hex_digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = ascii_lower(c);
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// 1 to max_digits hex digits, nothing else.
std::optional<unsigned long> parse_hex_number(std::string_view text, size_t max_digits) {
  if (text.empty() || text.size() > max_digits) return std::nullopt;
  unsigned long value = 0;
  for (char c : text) {
    const int digit = hex_digit(c);
    if (digit < 0) return std::nullopt;
    value = value * 16 + static_cast<unsigned long>(digit);
  }
  return value;
}

// "01,02,ff" (blanks allowed around bytes, one trailing comma allowed);
// empty text is zero-length data.
std::optional<std::vector<unsigned char>> parse_hex_bytes(std::string_view text) {
  std::vector<unsigned char> bytes;
  text = trim_right(trim_left(text));
  if (text.empty()) return bytes;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string_view::npos) comma = text.size();
    const std::string_view item = trim_right(trim_left(text.substr(start, comma - start)));
    if (item.empty()) {
      if (comma == text.size() && start > 0) break;  // a trailing comma
      return std::nullopt;
    }
    const auto byte = parse_hex_number(item, 2);
    if (!byte) return std::nullopt;
    bytes.push_back(static_cast<unsigned char>(*byte));
    start = comma + 1;
  }
  return bytes;
}

bool starts_with_nocase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (ascii_lower(text[i]) != ascii_lower(prefix[i])) return false;
  }
  return true;
}

// The name as a lookup key: letters of single-byte characters in lower case,
// double-byte characters as they are. Two names are registry_names_equal
// exactly when their keys are the same.
std::string folded(std::string_view name) {
  std::string key;
  key.reserve(name.size());
  for (size_t i = 0; i < name.size();) {
    const size_t len = char_length(name, i);
    if (len == 2) {
      key.append(name.substr(i, 2));
    } else {
      key.push_back(ascii_lower(name[i]));
    }
    i += len;
  }
  return key;
}

// Whether path names the key `ancestor` or one below it. The separator after
// the ancestor must be one: not the trail byte of a character it began.
bool is_same_or_below(std::string_view path, std::string_view ancestor) {
  if (path.size() < ancestor.size()) return false;
  if (!registry_names_equal(path.substr(0, ancestor.size()), ancestor)) return false;
  if (path.size() == ancestor.size()) return true;
  return path[ancestor.size()] == '\\' && !ends_in_half_character(ancestor);
}

class Parser {
 public:
  explicit Parser(const std::string& text) : lines_(split_lines(text)) {}

  std::vector<RegistryKey> run() {
    if (lines_.empty()) return {};
    if (lines_[0] != "REGEDIT4" && lines_[0] != "Windows Registry Editor Version 5.00") return {};
    for (line_ = 1; line_ < lines_.size(); ++line_) {
      const std::string_view line = trim_left(lines_[line_]);
      if (line.empty() || line[0] == ';') continue;
      if (line[0] == '[') {
        section(line);
      } else if (line[0] == '"' || line[0] == '@') {
        value(line);
      }
    }
    return std::move(keys_);
  }

 private:
  void section(std::string_view line) {
    current_ = kNone;
    const size_t close = trim_right(line).size();
    // A broken section line leaves no key open, so that the values below it
    // cannot land in the key before it.
    if (close < 2 || line[close - 1] != ']') return;
    std::string_view path = line.substr(1, close - 2);
    const bool remove = !path.empty() && path[0] == '-';
    if (remove) path.remove_prefix(1);
    path = without_trailing_separators(path);
    if (path.empty()) return;
    if (remove) {
      std::erase_if(keys_, [&](const RegistryKey& key) { return is_same_or_below(key.path, path); });
      rebuild_key_index();
      return;
    }
    // Keys are found through an index: an exported registry has a great
    // many of them, and a search of all keys per section grows with the
    // square of the file.
    const auto [at, added] = key_index_.try_emplace(folded(path), keys_.size());
    if (added) keys_.push_back(RegistryKey{std::string(path), {}});
    current_ = at->second;
  }

  void rebuild_key_index() {
    key_index_.clear();
    value_index_.clear();
    for (size_t i = 0; i < keys_.size(); ++i) key_index_.emplace(folded(keys_[i].path), i);
  }

  // The position of the current key's value of this name. Most keys hold a
  // few values and are searched through; a key with many gets an index.
  std::optional<size_t> find_value(std::string_view name) {
    const auto& values = keys_[current_].values;
    if (values.size() < kIndexedFrom) {
      for (size_t i = 0; i < values.size(); ++i) {
        if (registry_names_equal(values[i].name, name)) return i;
      }
      return std::nullopt;
    }
    auto& index = value_index_[current_];
    if (index.empty()) {
      for (size_t i = 0; i < values.size(); ++i) index.emplace(folded(values[i].name), i);
    }
    const auto found = index.find(folded(name));
    if (found == index.end()) return std::nullopt;
    return found->second;
  }

  void value(std::string_view line) {
    if (current_ == kNone) return;
    std::string name;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else {
      auto quoted = read_quoted(line, &pos);
      if (!quoted) return;
      name = std::move(*quoted);
    }
    std::string_view rest = trim_left(line.substr(pos));
    if (rest.empty() || rest[0] != '=') return;
    rest = trim_left(rest.substr(1));

    if (trim_right(rest) == "-") {
      auto& values = keys_[current_].values;
      std::erase_if(values, [&](const RegistryValue& v) { return registry_names_equal(v.name, name); });
      value_index_.erase(current_);  // made anew when next needed
      return;
    }
    RegistryValue parsed;
    parsed.name = std::move(name);
    if (!data(rest, &parsed)) return;
    store(std::move(parsed));
  }

  bool data(std::string_view rest, RegistryValue* out) {
    if (!rest.empty() && rest[0] == '"') {
      size_t pos = 0;
      auto text = read_quoted(rest, &pos);
      if (!text || !trim_right(rest.substr(pos)).empty()) return false;
      out->type = kRegSz;
      out->data.assign(text->begin(), text->end());
      out->data.push_back(0);
      return true;
    }
    if (starts_with_nocase(rest, "dword:")) {
      const auto number = parse_hex_number(trim_right(rest.substr(6)), 8);
      if (!number) return false;
      out->type = kRegDword;
      for (int i = 0; i < 4; ++i) out->data.push_back(static_cast<unsigned char>((*number >> (8 * i)) & 0xFF));
      return true;
    }
    if (!starts_with_nocase(rest, "hex")) return false;
    rest.remove_prefix(3);
    out->type = kRegBinary;
    if (!rest.empty() && rest[0] == '(') {
      const size_t close = rest.find(')');
      if (close == std::string_view::npos) return false;
      const auto type = parse_hex_number(rest.substr(1, close - 1), 8);
      if (!type) return false;
      out->type = *type;
      rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest[0] != ':') return false;
    const auto bytes = parse_hex_bytes(joined_hex(rest.substr(1)));
    if (!bytes) return false;
    out->data = *bytes;
    return true;
  }

  // Long hex data is wrapped: a line ending in "\" goes on in the next one.
  std::string joined_hex(std::string_view first) {
    std::string text;
    std::string_view part = trim_right(first);
    while (!part.empty() && part.back() == '\\' && line_ + 1 < lines_.size()) {
      part.remove_suffix(1);
      text.append(part);
      ++line_;
      part = trim_right(trim_left(lines_[line_]));
    }
    text.append(part);
    return text;
  }

  void store(RegistryValue parsed) {
    auto& values = keys_[current_].values;
    if (const auto at = find_value(parsed.name)) {
      values[*at].type = parsed.type;
      values[*at].data = std::move(parsed.data);
      return;
    }
    const auto index = value_index_.find(current_);
    if (index != value_index_.end()) index->second.emplace(folded(parsed.name), values.size());
    values.push_back(std::move(parsed));
  }

  static constexpr size_t kNone = static_cast<size_t>(-1);
  std::vector<std::string_view> lines_;
  size_t line_ = 0;
  std::vector<RegistryKey> keys_;
  static constexpr size_t kIndexedFrom = 16;
  // folded() path -> position in keys_.
  std::unordered_map<std::string, size_t> key_index_;
  // For keys with many values: folded() name -> position in the key's values.
  std::unordered_map<size_t, std::unordered_map<std::string, size_t>> value_index_;
  size_t current_ = kNone;
};

constexpr char kUtf16Bom[] = "\xFF\xFE";

// An iconv descriptor from UTF-16LE to Shift_JIS, closed on every way out:
// the Windows code page 932 where the C library knows it by that name.
class Converter {
 public:
  Converter() : cd_(iconv_open("CP932", "UTF-16LE")) {
    if (!valid()) cd_ = iconv_open("SHIFT_JIS", "UTF-16LE");
  }
  ~Converter() {
    if (valid()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

}  // namespace

std::string_view without_trailing_separators(std::string_view path) {
  return without_final_separators(path, "\\");
}

bool registry_names_equal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  size_t i = 0;
  while (i < a.size()) {
    const size_t len = char_length(a, i);
    if (len == 2) {
      if (a[i] != b[i] || a[i + 1] != b[i + 1]) return false;
    } else if (ascii_lower(a[i]) != ascii_lower(b[i])) {
      return false;
    }
    i += len;
  }
  return true;
}

bool decode_registry_bytes(std::string* bytes) {
  if (!bytes->starts_with(kUtf16Bom)) return true;
  const Converter converter;
  if (!converter.valid()) return false;
  // A character of the Basic Multilingual Plane takes at most two bytes in
  // Shift_JIS, and one outside it has no Shift_JIS form: the output is never
  // longer than the input.
  std::string out(bytes->size(), '\0');
  char* from = bytes->data() + 2;
  size_t from_left = bytes->size() - 2;
  char* to = out.data();
  size_t to_left = out.size();
  if (iconv(converter.get(), &from, &from_left, &to, &to_left) == static_cast<size_t>(-1)) return false;
  if (iconv(converter.get(), nullptr, nullptr, &to, &to_left) == static_cast<size_t>(-1)) return false;
  out.resize(out.size() - to_left);
  *bytes = std::move(out);
  return true;
}

std::vector<RegistryKey> parse_registry_text(const std::string& text) { return Parser(text).run(); }

const RegistryKey* find_registry_key(const std::vector<RegistryKey>& keys, std::string_view path) {
  for (const RegistryKey& key : keys) {
    if (registry_names_equal(key.path, path)) return &key;
  }
  return nullptr;
}

bool registry_key_exists(const std::vector<RegistryKey>& keys, std::string_view path) {
  for (const RegistryKey& key : keys) {
    if (is_same_or_below(key.path, path)) return true;
  }
  return false;
}

}  // namespace port::posix
