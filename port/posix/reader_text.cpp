// Shift_JIS text for a reader on POSIX: decoded as code page 932 with iconv,
// control characters made visible, encoded for the reader.
#include "port/reader_text.h"

#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <strings.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

namespace port {

namespace {

// A converter, opened once and reset before each use.
class Converter {
 public:
  Converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
  ~Converter() {
    if (valid()) iconv_close(cd_);
  }
  Converter(const Converter&) = delete;
  Converter& operator=(const Converter&) = delete;
  // iconv_open's failure is (iconv_t) -1.
  bool valid() const { return cd_ != reinterpret_cast<iconv_t>(static_cast<std::intptr_t>(-1)); }
  iconv_t get() const { return cd_; }

 private:
  iconv_t cd_;
};

// The code points of the text; a byte that does not decode stands for
// itself, marked so that it is shown as "\xNN".
constexpr char32_t kUndecoded = 0x80000000u;

std::vector<char32_t> decode(std::string_view text, bool utf8) {
  static Converter cp932("UTF-32LE", "CP932");
  static Converter shift_jis("UTF-32LE", "SHIFT_JIS");
  static Converter from_utf8("UTF-32LE", "UTF-8");
  static std::mutex lock;
  std::lock_guard<std::mutex> hold(lock);
  const Converter& converter = utf8 ? from_utf8 : cp932.valid() ? cp932 : shift_jis;
  std::vector<char32_t> points;
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (!converter.valid()) {
      points.push_back(kUndecoded | static_cast<unsigned char>(text[pos++]));
      continue;
    }
    iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(text.data() + pos);
    std::size_t in_left = text.size() - pos;
    std::vector<char32_t> out(in_left + 1);
    char* out_bytes = reinterpret_cast<char*>(out.data());
    std::size_t out_left = out.size() * sizeof(char32_t);
    const std::size_t result = iconv(converter.get(), &in, &in_left, &out_bytes, &out_left);
    const std::size_t made = out.size() - out_left / sizeof(char32_t);
    for (std::size_t i = 0; i < made; ++i) {
      // UTF-32LE, whatever the machine's byte order.
      const auto* bytes = reinterpret_cast<const unsigned char*>(&out[i]);
      points.push_back(static_cast<char32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16 | static_cast<char32_t>(bytes[3]) << 24));
    }
    pos = text.size() - in_left;
    if (result == static_cast<std::size_t>(-1) && pos < text.size()) {
      // A byte that begins no character (or half of one at the end).
      points.push_back(kUndecoded | static_cast<unsigned char>(text[pos++]));
    }
  }
  return points;
}

bool is_control(char32_t point) { return point < 0x20 || point == 0x7F || (point >= 0x80 && point < 0xA0); }

// "\xNN", upper-case hex digits.
void append_hex(std::u32string* out, unsigned value) {
  char digits[8];
  std::snprintf(digits, sizeof digits, "\\x%02X", value & 0xFFu);
  for (const char* c = digits; *c != '\0'; ++c) out->push_back(static_cast<char32_t>(*c));
}

// The text with every byte that did not decode and every control character
// written out in visible characters.
std::u32string visible(const std::vector<char32_t>& points, LineBreaks breaks) {
  std::u32string out;
  for (const char32_t point : points) {
    if ((point & kUndecoded) != 0) {
      append_hex(&out, static_cast<unsigned>(point & 0xFF));
    } else if (breaks == LineBreaks::kKept && (point == U'\n' || point == U'\t')) {
      out.push_back(point);
    } else if (point == 0x1B) {
      out += U"\\e";
    } else if (is_control(point)) {
      append_hex(&out, static_cast<unsigned>(point));
    } else {
      out.push_back(point);
    }
  }
  return out;
}

void append_utf8(std::string* out, char32_t point) {
  if (point < 0x80) {
    out->push_back(static_cast<char>(point));
  } else if (point < 0x800) {
    out->push_back(static_cast<char>(0xC0 | point >> 6));
    out->push_back(static_cast<char>(0x80 | (point & 0x3F)));
  } else if (point < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | point >> 12));
    out->push_back(static_cast<char>(0x80 | (point >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (point & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | point >> 18));
    out->push_back(static_cast<char>(0x80 | (point >> 12 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (point >> 6 & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (point & 0x3F)));
  }
}

// The character set of the locale the environment names, for a terminal; ""
// for UTF-8 (also where the locale's set is ASCII, which shows nothing of
// Japanese text, or where no locale can be had).
std::string terminal_charset() {
  static const std::string charset = [] {
    const locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
    if (locale == static_cast<locale_t>(nullptr)) return std::string();
    std::string name = nl_langinfo_l(CODESET, locale);
    freelocale(locale);
    for (const char* ascii : {"ANSI_X3.4-1968", "ASCII", "US-ASCII", "UTF-8", "utf8"}) {
      if (strcasecmp(name.c_str(), ascii) == 0) return std::string();
    }
    return name;
  }();
  return charset;
}

// One character in the charset, or "\uXXXX" where the set has none for it.
void append_in(Converter& converter, std::string* out, char32_t point) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(point), static_cast<unsigned char>(point >> 8),
                                  static_cast<unsigned char>(point >> 16), static_cast<unsigned char>(point >> 24)};
  iconv(converter.get(), nullptr, nullptr, nullptr, nullptr);
  char* in = const_cast<char*>(reinterpret_cast<const char*>(bytes));
  std::size_t in_left = sizeof bytes;
  char encoded[16];
  char* out_bytes = encoded;
  std::size_t out_left = sizeof encoded;
  if (iconv(converter.get(), &in, &in_left, &out_bytes, &out_left) != static_cast<std::size_t>(-1) && in_left == 0) {
    // A stateful set ends each character in its initial state.
    iconv(converter.get(), nullptr, nullptr, &out_bytes, &out_left);
    out->append(encoded, sizeof encoded - out_left);
    return;
  }
  char escape[16];
  if (point < 0x10000) {
    std::snprintf(escape, sizeof escape, "\\u%04X", static_cast<unsigned>(point));
  } else {
    std::snprintf(escape, sizeof escape, "\\U%08X", static_cast<unsigned>(point));
  }
  *out += escape;
}

std::string encoded_for(TextFor target, const std::u32string& shown) {
  std::string out;
  const std::string charset = target == TextFor::kTerminal ? terminal_charset() : std::string();
  if (!charset.empty()) {
    static std::mutex lock;
    std::lock_guard<std::mutex> hold(lock);
    static Converter converter(charset.c_str(), "UTF-32LE");
    if (converter.valid()) {
      for (const char32_t point : shown) append_in(converter, &out, point);
      return out;
    }
  }
  for (const char32_t point : shown) append_utf8(&out, point);
  return out;
}

}  // namespace

std::string text_for_reader(std::string_view shift_jis, TextFor target, LineBreaks breaks) {
  return encoded_for(target, visible(decode(shift_jis, false), breaks));
}

std::string utf8_for_reader(std::string_view utf8, TextFor target, LineBreaks breaks) {
  return encoded_for(target, visible(decode(utf8, true), breaks));
}

}  // namespace port
