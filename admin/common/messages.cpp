#include "admin/common/messages.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "admin/common/catalogue.h"
#include "admin/common/diagnostics.h"
#include "admin/common/message_texts.h"
#include "port/write_check.h"

namespace {

// Keys hold at most 36 characters.
constexpr std::size_t kKeyCopySize = 37;
// A message identifier is this many characters, its colon included.
constexpr std::size_t kIdentifierLength = 10;
// The formatted built-in message holds at most 4095 characters.
constexpr std::size_t kTextMessageSize = 4096;

// Writes text to out when there is room; counts the characters either way.
class Formatter {
 public:
  Formatter(char* out, std::size_t size) : out_(out), size_(size) {}
  void put(const char* text, std::size_t length) {
    for (std::size_t i = 0; i < length; ++i) put(text[i]);
  }
  void put(char c) {
    if (out_ != nullptr && length_ + 1 < size_) out_[length_] = c;
    ++length_;
  }
  void put_number(int number) {
    char digits[16];
    const int n = std::snprintf(digits, sizeof digits, "%d", number);
    put(digits, static_cast<std::size_t>(n));
  }
  void put_arg(const MsgArg& arg) {
    if (arg.is_text) {
      if (arg.text != nullptr) put(arg.text, std::strlen(arg.text));
    } else {
      put_number(arg.number);
    }
  }
  // Terminates the text (cut at the buffer's end); the full length.
  std::size_t finish() {
    if (out_ != nullptr && size_ > 0) out_[length_ < size_ ? length_ : size_ - 1] = '\0';
    return length_;
  }

 private:
  char* out_;
  std::size_t size_;
  std::size_t length_ = 0;
};

// Fills the placeholders "%s" and "%d" of the template with the arguments in
// order; any other "%" stays as it is, "%%" gives one "%".
std::size_t format_message(const char* templ, const MsgArg* args, std::size_t count, char* out, std::size_t size) {
  Formatter f(out, size);
  std::size_t next = 0;
  for (const char* p = templ; *p != '\0'; ++p) {
    if (p[0] == '%' && (p[1] == 's' || p[1] == 'd')) {
      if (next < count) f.put_arg(args[next++]);
      ++p;
    } else if (p[0] == '%' && p[1] == '%') {
      f.put('%');
      ++p;
    } else {
      f.put(*p);
    }
  }
  return f.finish();
}

// The head of the response: the CGI header and a comment line that carries
// the identifier and the arguments of the unformatted text.
void write_head(const char* identifier, const char* templ, const MsgArg* args, std::size_t count) {
  std::fputs("Content-Type: text/html\n\n<!-- ", stdout);
  std::fprintf(stdout, "%.*s", static_cast<int>(kIdentifierLength - 1), identifier);
  std::size_t next = 0;
  for (const char* p = templ; *p != '\0'; ++p) {
    if (p[0] != '%' || (p[1] != 's' && p[1] != 'd')) continue;
    ++p;
    if (next >= count) continue;
    std::fputc(next == 0 ? ' ' : ',', stdout);
    const MsgArg& arg = args[next++];
    if (arg.is_text) {
      std::fputs(arg.text != nullptr ? arg.text : "", stdout);
    } else {
      std::printf("%d", arg.number);
    }
  }
  std::fputs(" -->\n", stdout);
}

// Writes the page itself: the identifier with its colon, then the body.
int write_msg_page(const char* identifier, const char* body) {
  std::printf(
      "<!-- Lorvex: the gathering administration of the Lorvex Japanese search product. -->\n"
      "<!-- This page reports one numbered message of the Lorvex administration tools. -->\n"
      "<!-- Lorvex and its administration tools are the property of VELMORA. -->\n"
      "<!-- Copyright (C) VELMORA. All rights reserved. -->\n"
      "\n"
      "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML//EN\">\n"
      "%s\n"
      "<BODY BACKGROUND=\"/Lorvex-doc/admin/GIF/bk.gif\" BGCOLOR=\"#FFFFFF\" TOPMARGIN=\"0\" LEFTMARGIN=\"0\">\n"
      "<CENTER><TABLE BORDER=\"0\"><TR>\n"
      "<TD ALIGN=\"left\"><IMG SRC=\"/Lorvex-doc/admin/GIF/head1.gif\"></TD>\n"
      "<TD ALIGN=\"left\"><IMG SRC=\"/Lorvex-doc/admin/GIF/foot2.gif\" WIDTH=\"380\" HEIGHT=\"22\"></TD>\n"
      "<TD ALIGN=\"left\"><IMG SRC=\"/Lorvex-doc/admin/GIF/head2.gif\"></TD>\n"
      "</TR></TABLE>\n"
      "%s\n"
      "<FONT SIZE=\"4\"><DL><DD><TABLE><TR>\n",
      kPageTitleLine, kPageHeadingLine);
  std::printf("<TD ALIGN=\"left\">%s</TD>\n", identifier);
  std::printf("<TD ALIGN=\"left\">%s</TD>\n", body);
  std::printf(
      "</TR></TABLE></DL></FONT>\n"
      "<FORM ACTION=\"\">\n"
      "%s\n"
      "</FORM>\n"
      "<DIV ALIGN=\"center\"><CENTER><TABLE BORDER=\"0\"><TR>\n"
      "<TD ALIGN=\"left\"><IMG SRC=\"/Lorvex-doc/admin/GIF/head2.gif\"></TD>\n"
      "<TD ALIGN=\"left\"><IMG SRC=\"/Lorvex-doc/admin/GIF/foot2.gif\" WIDTH=\"380\" HEIGHT=\"22\"></TD>\n"
      "<TD ALIGN=\"left\"><IMG SRC=\"/Lorvex-doc/admin/GIF/head3.gif\"></TD>\n"
      "</TR></TABLE></CENTER></DIV>\n"
      "<H4 ALIGN=\"center\">Copyright (C) VELMORA. All rights reserved.</H4>\n"
      "</BODY></HTML>\n",
      kPageBackButtonLine);
  // The page is the caller's only report: one that did not arrive is told
  // where it still can be.
  if (port::flush_checked(stdout) != 0) {
    Diagnostics("emit_msg").error("Cannot write the message page of %s (errno=%d).", identifier, errno);
  }
  return 0;
}

// Splits a formatted text into its identifier and body and writes the page.
int issue(const char* templ, const MsgArg* args, std::size_t count, const char* formatted) {
  char identifier[kIdentifierLength + 1] = {};
  std::strncpy(identifier, formatted, kIdentifierLength);
  write_head(identifier, templ, args, count);
  const bool has_body = std::strlen(formatted) >= kIdentifierLength;
  return write_msg_page(identifier, has_body ? formatted + kIdentifierLength : "");
}

}  // namespace

int emit_msg_args(int /*status*/, const char* key, const MsgArg* args, std::size_t count) {
  static char templ[kMsgTextSize];
  std::memset(templ, 0, sizeof templ);

  char* key_copy = static_cast<char*>(std::calloc(kKeyCopySize, 1));
  if (key_copy == nullptr) {
    emit_msg_text(500, kQtrm003NoMemory);
    return -1;
  }
  if (key != nullptr && std::strlen(key) >= kKeyCopySize) {
    // Cut to the copy's size, a longer key could match another entry: it
    // is no key of the catalogue.
    std::free(key_copy);
    emit_msg_text(500, kQtrm008BadCatalogue);
    return -3;
  }
  if (key != nullptr) std::strcpy(key_copy, key);
  const int found = get_msg_text(key != nullptr ? key_copy : nullptr, templ);
  std::free(key_copy);
  if (found != 0) return found;

  const std::size_t length = format_message(templ, args, count, nullptr, 0);
  char* formatted = static_cast<char*>(std::calloc(length + 1, 1));
  if (formatted == nullptr) {
    emit_msg_text(500, kQtrm003NoMemory);
    return -1;
  }
  format_message(templ, args, count, formatted, length + 1);
  // A text without its identifier is no message of the catalogue's format.
  if (length < kIdentifierLength) {
    std::free(formatted);
    emit_msg_text(500, kQtrm008BadCatalogue);
    return -3;
  }
  issue(templ, args, count, formatted);
  std::free(formatted);
  return 0;
}

int emit_msg_text_args(int status, const char* text, const MsgArg* args, std::size_t count) {
  if (text == nullptr) return emit_msg_text(status, kQtrm001SystemError, 17);
  char formatted[kTextMessageSize];
  const std::size_t length = format_message(text, args, count, formatted, sizeof formatted);
  // A cut message could say something else than was meant: a text too long
  // for the buffer is refused as emit_msg refuses a text that is no message.
  if (length >= sizeof formatted) {
    emit_msg_text(500, kQtrm008BadCatalogue);
    return -3;
  }
  return issue(text, args, count, formatted);
}
