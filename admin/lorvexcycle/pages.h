#pragma once
// The message pages in a cycle's standard output, read as the stream passes:
// each page is a CGI response whose first body line is the machine-readable
// comment with the message number; its second cell holds the message text.
#include <cstddef>
#include <string>

class PageReader {
 public:
  // Takes the next bytes of the stream, in order, in pieces of any size.
  void take(const char* bytes, std::size_t size);
  // Ends the stream: a last line without its line break counts too.
  void finish();

  int pages() const { return pages_; }
  // Whether a page whose number says anything but information came.
  bool any_not_information() const { return any_not_information_; }
  // The last page's number ("LXCM601-I") and text (line breaks as blanks;
  // empty when the page was cut off before its text; a text of more than
  // 1024 bytes is cut there and ends in " ...").
  const std::string& last_number() const { return number_; }
  const std::string& last_text() const { return text_; }

 private:
  void line(std::string text);
  void start_page(const std::string& number);
  void add_text(const std::string& piece);

  enum class State { kOutside, kHeader, kComment, kInPage, kCell, kText };
  State state_ = State::kOutside;
  std::string pending_;
  int pages_ = 0;
  bool any_not_information_ = false;
  std::string number_;
  std::string text_;
  bool text_cut_ = false;
};

// Whether the word is a message number: letters and digits, a hyphen, and
// one capital letter that says its kind ("I" information, "E" error ...).
bool is_message_number(const std::string& word);
